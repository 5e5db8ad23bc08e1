#pragma once
// Opening a PDF at the page of a hit.
//
// A viewer on the PATH that can be told a page is used: evince, okular, zathura, mupdf, in
// that order. Without one the desktop's default handler (xdg-open) opens the file at its
// start. Nothing is ever shown to the user from here: a viewer that cannot be started only
// makes the open answer false.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/host.h"
#include "platform/process.h"

namespace ferretta::pdf {

enum class PdfViewerKind { None, Evince, Okular, Zathura, MuPdf, DesktopDefault };

// The viewers that open at a page, in the order they are looked for, with their program names.
struct PdfViewerChoice {
    PdfViewerKind kind;
    std::string_view program;
};
inline constexpr PdfViewerChoice pageViewers[] = {
    {PdfViewerKind::Evince, "evince"},
    {PdfViewerKind::Okular, "okular"},
    {PdfViewerKind::Zathura, "zathura"},
    {PdfViewerKind::MuPdf, "mupdf"},
};
inline constexpr std::string_view desktopOpener = "xdg-open";

using platform::findOnPath;

// The argument vector that opens the PDF at the page (1 = first; anything below counts as 1)
// with the viewer program. The desktop handler gets no page. A path that starts with '-' is
// given as "./-..." so that no viewer takes it for an option. Empty for PdfViewerKind::None.
std::vector<std::string> viewerCommand(PdfViewerKind kind, std::string_view program,
                                       std::string_view pdfPath, std::int32_t page);

class PdfViewer {
  public:
    // Forgets the viewer found; the next open looks again.
    void initPDFValues();

    // Looks the viewer up unless one is known already; answers isAcrobatFound.
    bool isFullAcrobat();

    // Looks for a viewer on the PATH (the environment's, or the system's default when unset):
    // the first page-capable one sets isAcrobatFound; otherwise the desktop handler is used.
    // Answers the viewer's full path, "" when neither is there.
    std::string getAcrobatExePath();

    // Starts the viewer on the PDF at the page and returns at once. False (no message) when
    // there is no viewer or it cannot be started.
    bool openPDFFile(std::string_view pdfPath, std::int32_t page);

    // Opens a PDF hit at its page; a hit without one (a file-name hit) opens at page 1.
    bool openHit(const app::Hit& hit);

    // True when a viewer that opens at a page was found.
    bool isAcrobatFound() const { return m_isAcrobatFound; }
    const std::string& acrobatExePath() const { return m_acrobatExePath; }
    PdfViewerKind kind() const { return m_kind; }

  private:
    bool m_isAcrobatFound = false;
    std::string m_acrobatExePath;  // "" when none was found or none looked for yet
    PdfViewerKind m_kind = PdfViewerKind::None;
};

// The process's viewer choice.
PdfViewer& pdfViewer();

// The front ends' part of the PDF module's reset at start-up and shutdown: the viewer choice is
// forgotten. (The engine's character table is loaded by its own start-up step.)
void initPDFValues();

}  // namespace ferretta::pdf
