#include "ui/main/japanese_font.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QRawFont>
#include <QStringList>

namespace ferretta::ui::main {

namespace {

// Kanji, hiragana, katakana and half-width katakana, as the captions use them.
const QString& japaneseSample() {
    static const QString sample = QStringLiteral("検索表示のﾌｧｲﾙ");
    return sample;
}

bool showsSample(const QRawFont& font) {
    if (!font.isValid())
        return false;
    for (const QChar c : japaneseSample()) {
        if (!font.supportsCharacter(c))
            return false;
    }
    return true;
}

}  // namespace

QString preferJapaneseFont() {
    QFont font = QGuiApplication::font();
    if (showsSample(QRawFont::fromFont(font, QFontDatabase::Japanese)))
        return {};
    // Gothic (sans-serif) families first, as the Windows captions were.
    static const QStringList preferred = {
        QStringLiteral("IPAexGothic"),        QStringLiteral("IPAGothic"),
        QStringLiteral("IPAPGothic"),         QStringLiteral("Noto Sans CJK JP"),
        QStringLiteral("Source Han Sans JP"), QStringLiteral("VL Gothic"),
        QStringLiteral("TakaoPGothic"),       QStringLiteral("Noto Sans JP")};
    const QStringList installed = QFontDatabase::families(QFontDatabase::Japanese);
    QStringList candidates;
    for (const QString& family : preferred) {
        if (installed.contains(family))
            candidates << family;
    }
    candidates << installed;
    for (const QString& family : candidates) {
        QFont probe(family);
        probe.setPointSizeF(font.pointSizeF());
        if (!showsSample(QRawFont::fromFont(probe, QFontDatabase::Japanese)))
            continue;
        font.setFamilies({font.family(), family});
        QGuiApplication::setFont(font);
        return family;
    }
    return {};
}

}  // namespace ferretta::ui::main
