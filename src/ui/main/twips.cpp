#include "ui/main/twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace ferretta::ui::main {

namespace {

constexpr double kDefaultDpi = 96.0;

double usableDpi(double dpi) {
    return dpi > 0.0 && std::isfinite(dpi) ? dpi : kDefaultDpi;
}

const QScreen* screenOf(const QWidget* widget) {
    if (widget != nullptr && widget->screen() != nullptr)
        return widget->screen();
    return QGuiApplication::primaryScreen();
}

}  // namespace

double twipsPerPixel(double dpi) {
    return twipsPerInch / usableDpi(dpi);
}

int twipsToPixels(double twips, double dpi) {
    const double pixels = twips / twipsPerPixel(dpi);
    // A settings file may hold any number; keep the result inside int.
    if (!std::isfinite(pixels))
        return 0;
    if (pixels > 1e9)
        return 1000000000;
    if (pixels < -1e9)
        return -1000000000;
    return static_cast<int>(std::lround(pixels));
}

double pixelsToTwips(int pixels, double dpi) {
    return pixels * twipsPerPixel(dpi);
}

double logicalDpiX(const QWidget* widget) {
    const QScreen* screen = screenOf(widget);
    return screen != nullptr ? usableDpi(screen->logicalDotsPerInchX()) : kDefaultDpi;
}

double logicalDpiY(const QWidget* widget) {
    const QScreen* screen = screenOf(widget);
    return screen != nullptr ? usableDpi(screen->logicalDotsPerInchY()) : kDefaultDpi;
}

int twipsToPixelsX(double twips, const QWidget* widget) {
    return twipsToPixels(twips, logicalDpiX(widget));
}
int twipsToPixelsY(double twips, const QWidget* widget) {
    return twipsToPixels(twips, logicalDpiY(widget));
}
double pixelsToTwipsX(int pixels, const QWidget* widget) {
    return pixelsToTwips(pixels, logicalDpiX(widget));
}
double pixelsToTwipsY(int pixels, const QWidget* widget) {
    return pixelsToTwips(pixels, logicalDpiY(widget));
}

}  // namespace ferretta::ui::main
