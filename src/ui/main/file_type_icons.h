#pragma once
// The small icons of the results list, one per file-type number. They are drawn by our own
// code so that every desktop shows the same set, with or without an icon theme.
#include <array>

#include <QIcon>

#include "app/file_types.h"

namespace ferretta::ui::main {

// Draws the icon of a file-type number at 16 and 32 pixels: a page with a coloured band and a
// letter for documents (T text, W Word, X Excel, P PowerPoint, PDF, A Access), an envelope,
// calendar, person, task list or note for the mail-program kinds, and a plain page for 0, for
// unused numbers and for numbers outside 0..20. Needs a QGuiApplication (it makes pixmaps);
// never answers a null icon while one exists.
QIcon drawFileTypeIcon(app::FileType fileType);

// The icons of all file types, drawn on first use and kept for the cache's life. Keep it in an
// object that dies before the application object does: pixmaps must not outlive it.
class FileTypeIcons {
  public:
    // The icon of a number; numbers outside 0..20 share the plain page of 0.
    const QIcon& icon(app::FileType fileType) const;

  private:
    mutable std::array<QIcon, app::fileTypeSlots> m_icons;
};

}  // namespace ferretta::ui::main
