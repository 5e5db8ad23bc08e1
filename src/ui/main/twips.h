#pragma once
// Window sizes of the main window are kept in twips (1/1440 inch), as the settings file
// stores the window position in them. These helpers convert with the logical DPI of a screen:
// 15 twips per pixel at 96 DPI.
class QScreen;
class QWidget;

namespace ferretta::ui::main {

inline constexpr double twipsPerInch = 1440.0;

// Twips per pixel at a logical DPI; a DPI that is not positive counts as 96.
double twipsPerPixel(double dpi);

// Rounds to the nearest pixel (halves away from zero).
int twipsToPixels(double twips, double dpi);
double pixelsToTwips(int pixels, double dpi);

// The logical DPI of the widget's screen, else of the primary screen; 96 without any screen.
double logicalDpiX(const QWidget* widget);
double logicalDpiY(const QWidget* widget);

// Shorthands with the widget's screen.
int twipsToPixelsX(double twips, const QWidget* widget);
int twipsToPixelsY(double twips, const QWidget* widget);
double pixelsToTwipsX(int pixels, const QWidget* widget);
double pixelsToTwipsY(int pixels, const QWidget* widget);

}  // namespace ferretta::ui::main
