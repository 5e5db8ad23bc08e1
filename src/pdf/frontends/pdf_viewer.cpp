#include "pdf/frontends/pdf_viewer.h"

#include "app/debug_log.h"
#include "platform/process.h"
#include "search/hit.h"

namespace ferretta::pdf {

std::vector<std::string> viewerCommand(PdfViewerKind kind, std::string_view program,
                                       std::string_view pdfPath, std::int32_t page) {
    std::string file(pdfPath);
    if (!file.empty() && file.front() == '-')
        file.insert(0, "./");
    const std::string number = std::to_string(page < 1 ? 1 : page);
    std::string viewer(program);
    switch (kind) {
        case PdfViewerKind::Evince:
            // --page-index is the page's number counted from 1; --page-label would follow
            // the document's own labels (roman numerals and the like).
            return {viewer, "--page-index=" + number, file};
        case PdfViewerKind::Okular:
            return {viewer, "-p", number, file};
        case PdfViewerKind::Zathura:
            return {viewer, "-P", number, file};
        case PdfViewerKind::MuPdf:
            return {viewer, file, number};
        case PdfViewerKind::DesktopDefault:
            return {viewer, file};
        case PdfViewerKind::None:
            break;
    }
    return {};
}

void PdfViewer::initPDFValues() {
    m_isAcrobatFound = false;
    m_acrobatExePath.clear();
    m_kind = PdfViewerKind::None;
}

bool PdfViewer::isFullAcrobat() {
    if (m_acrobatExePath.empty())
        m_acrobatExePath = getAcrobatExePath();
    return m_isAcrobatFound;
}

std::string PdfViewer::getAcrobatExePath() {
    const std::string searchPath = platform::programSearchPath();
    for (const PdfViewerChoice& choice : pageViewers) {
        std::string found = findOnPath(choice.program, searchPath);
        if (!found.empty()) {
            m_isAcrobatFound = true;
            m_kind = choice.kind;
            return found;
        }
    }
    std::string found = findOnPath(desktopOpener, searchPath);
    m_kind = found.empty() ? PdfViewerKind::None : PdfViewerKind::DesktopDefault;
    return found;
}

bool PdfViewer::openPDFFile(std::string_view pdfPath, std::int32_t page) {
    isFullAcrobat();
    if (m_acrobatExePath.empty())
        return false;
    std::string error;
    if (!platform::startProcess(viewerCommand(m_kind, m_acrobatExePath, pdfPath, page), &error)) {
        app::logWrite("pdfModule::openPDFFile", error);
        return false;
    }
    return true;
}

bool PdfViewer::openHit(const app::Hit& hit) {
    const search::OpenAction action = search::openActionFor(hit);
    return openPDFFile(action.location, action.page);
}

PdfViewer& pdfViewer() {
    static PdfViewer viewer;
    return viewer;
}

void initPDFValues() {
    pdfViewer().initPDFValues();
}

}  // namespace ferretta::pdf
