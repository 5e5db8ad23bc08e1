#pragma once
// Every caption of the window is Japanese: the application's font must show it.
#include <QString>

namespace ferretta::ui::main {

// Puts an installed Japanese family (IPAex Gothic, IPA Gothic, Noto Sans CJK JP, ...) after the
// application's default font when that font has no kana or kanji of its own, so that Latin
// text keeps the desktop's font and Japanese text gets Japanese glyph shapes rather than those
// of whatever font the fallback finds first (a Chinese one, for instance). Needs a
// QGuiApplication. Answers the family added; empty when the default font shows Japanese itself
// or no Japanese family is installed (the captions then show as boxes).
QString preferJapaneseFont();

}  // namespace ferretta::ui::main
