// Every caption of the window, its menus, the tray's menu, the Options dialog and the About box
// can be drawn with the font the program really uses: the application font after start-up's
// choice, with the fallbacks the system offers. On a machine without a Japanese font the
// captions would be empty boxes; this test fails there and names the characters. It is also the
// one place that walks every caption: a button or a frame without one is a caption lost.
#include "ui/main/japanese_font.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QTabBar>
#include <QTabWidget>
#include <memory>
#include <set>

#include "app/settings.h"
#include "support/qt_test_support.h"
#include "ui/main/main_form.h"
#include "ui/modes/about_box.h"
#include "ui/modes/task_tray.h"
#include "ui/options/options_dialog.h"

namespace {

using namespace ferretta;

// The texts a widget shows, each with the font it is drawn in.
struct Caption {
    QString text;
    QFont font;
};

// Buttons, frames and menu entries that show neither a caption nor an icon, by object name.
void collectBlank(QWidget& widget, std::vector<QString>& out) {
    for (auto* button : widget.findChildren<QAbstractButton*>()) {
        if (button->text().isEmpty() && button->icon().isNull() &&
            qobject_cast<QTabBar*>(button->parentWidget()) == nullptr)
            out.push_back(button->objectName());
    }
    for (auto* box : widget.findChildren<QGroupBox*>()) {
        if (box->title().isEmpty())
            out.push_back(box->objectName());
    }
    QList<QAction*> actions = widget.findChildren<QAction*>();
    actions += widget.actions();
    for (QAction* action : actions) {
        if (!action->isSeparator() && action->text().isEmpty() && action->icon().isNull())
            out.push_back(action->objectName());
    }
}

void collect(QWidget& widget, std::vector<Caption>& out) {
    const auto add = [&out](const QString& text, const QFont& font) {
        if (!text.isEmpty())
            out.push_back({text, font});
    };
    add(widget.windowTitle() + widget.toolTip(), widget.font());
    if (auto* label = qobject_cast<QLabel*>(&widget))
        add(label->text(), label->font());
    if (auto* button = qobject_cast<QAbstractButton*>(&widget))
        add(button->text(), button->font());
    if (auto* group = qobject_cast<QGroupBox*>(&widget))
        add(group->title(), group->font());
    if (auto* tabs = qobject_cast<QTabWidget*>(&widget)) {
        for (int i = 0; i < tabs->count(); ++i)
            add(tabs->tabText(i), tabs->tabBar()->font());
    }
    if (auto* combo = qobject_cast<QComboBox*>(&widget)) {
        for (int i = 0; i < combo->count(); ++i)
            add(combo->itemText(i), combo->font());
    }
    if (auto* view = qobject_cast<QAbstractItemView*>(&widget); view && view->model()) {
        for (int column = 0; column < view->model()->columnCount(); ++column)
            add(view->model()->headerData(column, Qt::Horizontal).toString(), view->font());
    }
    for (QAction* action : widget.actions())
        add(action->text(), widget.font());
    for (QWidget* child : widget.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        collect(*child, out);
}

TEST(JapaneseFontTest, EveryCaptionHasItsGlyphs) {
    test::ensureOffscreenApplication();
    ui::main::preferJapaneseFont();

    app::Settings settings;
    auto form = std::make_unique<ui::main::MainForm>(settings);
    ui::options::Dialog options(settings);
    ui::modes::AboutBox about;
    std::vector<Caption> captions;
    std::vector<QString> blank;
    for (QWidget* root :
         {static_cast<QWidget*>(form.get()), static_cast<QWidget*>(&form->taskTray().menu()),
          static_cast<QWidget*>(&options), static_cast<QWidget*>(&about)}) {
        collect(*root, captions);
        collectBlank(*root, blank);
    }
    for (const QString& name : blank)
        ADD_FAILURE() << name.toStdString() << " shows no caption";
    ASSERT_GT(captions.size(), 80u) << "the walk missed the captions";

    std::set<QString> missing;
    for (const Caption& caption : captions) {
        const QFontMetrics metrics(caption.font);
        for (const char32_t c : caption.text.toUcs4()) {
            if (c >= 0x20 && !metrics.inFontUcs4(c))
                missing.insert(caption.text);
        }
    }
    for (const QString& text : missing)
        ADD_FAILURE() << "the font has no glyph for some of: " << text.toStdString();
}

}  // namespace
