// The main window without a mouse: every control a screen reader reaches has a name of its own,
// Tab leaves a populated file list, and the shortcuts do what their buttons do.

#include "testsupport.h"

#include "engine/pdffile.h"
#include "platform/messages.h"
#include "platform/winmsg.h"
#include "ui/look.h"
#include "ui/mainform.h"
#include "ui/spinedit.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>

namespace {

// Every control that takes the keyboard focus, reached through the accessibility tree, with its
// accessible name.
void CollectFocusable(QAccessibleInterface* node, QList<QPair<QWidget*, QString>>& found) {
    if (node == nullptr)
        return;
    auto* widget = qobject_cast<QWidget*>(node->object());
    if (widget != nullptr && widget->isVisible() && (widget->focusPolicy() & Qt::TabFocus)) {
        found.append({widget, node->text(QAccessible::Name)});
        QVERIFY2(!node->text(QAccessible::Description).trimmed().isEmpty(),
                 qPrintable(widget->objectName() + QStringLiteral(" has no description")));
    }
    for (int i = 0; i < node->childCount(); ++i)
        CollectFocusable(node->child(i), found);
}

void ShowActive(TMainForm& form) {
    form.show();
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
}

void ListTwoFiles(TMainForm& form) {
    for (const char* name : {"a.pdf", "b.pdf"})
        PdfFileList->append(std::make_unique<TPdffile>(QStringLiteral("/x/") + name, name, "1 Byte",
                                                       "1", "", false));
    form.setListView(platform::WindowMessage(WM_SETLISTVIEW, 0, 0));
}

} // namespace

class TestKeyboard : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { ApplyLook(*qApp); }

    void everyControlHasAUniqueName() {
        Sandbox sandbox;
        Recorder recorder;
        TMainForm form;
        ShowActive(form);
        QList<QPair<QWidget*, QString>> found;
        CollectFocusable(QAccessible::queryAccessibleInterface(&form), found);
        QVERIFY(found.size() >= 15);
        QStringList names;
        for (const auto& [widget, name] : found) {
            QVERIFY2(!name.trimmed().isEmpty(), qPrintable(widget->objectName()));
            QVERIFY2(!names.contains(name), qPrintable(name));
            names.append(name);
        }
        // The two boxes of a group are told apart, and a box is named by its label.
        QCOMPARE(QAccessible::queryAccessibleInterface(form.txtDpi)->text(QAccessible::Name),
                 QStringLiteral("Resolution (DPI)"));
        QVERIFY(QAccessible::queryAccessibleInterface(form.txtQuality)->text(QAccessible::Name) !=
                QAccessible::queryAccessibleInterface(form.txtDpi)->text(QAccessible::Name));
    }

    void accessKeys() {
        Sandbox sandbox;
        Recorder recorder;
        TMainForm form;
        ShowActive(form);
        ListTwoFiles(form);
        // Alt and a label's underlined letter go to the box it names.
        const QList<QPair<char, QWidget*>> boxes = {
            {'f', form.cmbFormat}, {'q', form.txtQuality}, {'l', form.txtDpi},
            {'o', form.cmbColor},  {'d', form.sEdit1},
        };
        for (const auto& [letter, box] : boxes) {
            form.ListView1->setFocus();
            QTest::keyClick(&form, letter, Qt::AltModifier);
            QTRY_COMPARE(QApplication::focusWidget(), box);
        }
        // A button's letter presses it.
        QTest::keyClick(&form, 'c', Qt::AltModifier);
        QTRY_COMPARE(form.ListView1->rowCount(), 0);
    }

    // Each control that takes the keyboard looks different once it has it, on a light and on a
    // dark desktop.
    void focusIsVisible() {
        for (const bool dark : {false, true}) {
            const auto restore = qScopeGuard([] { UseDesktopPalette(false); });
            UseDesktopPalette(dark);
            Sandbox sandbox;
            Recorder recorder;
            TMainForm form;
            ShowActive(form);
            ListTwoFiles(form);
            form.radRange->click(); // the page boxes take the keyboard only then
            // As after a Tab: the style marks the focus for keyboard users.
            form.setAttribute(Qt::WA_KeyboardFocusChange);
            QList<QPair<QWidget*, QString>> found;
            CollectFocusable(QAccessible::queryAccessibleInterface(&form), found);
            for (const auto& [widget, name] : found) {
                QWidget* elsewhere = widget == form.sEdit1 ? form.txtDpi : form.sEdit1;
                elsewhere->setFocus(Qt::TabFocusReason);
                QTRY_VERIFY(elsewhere->hasFocus());
                const QImage without = widget->grab().toImage();
                widget->setFocus(Qt::TabFocusReason);
                QTRY_VERIFY2(widget->hasFocus(), qPrintable(widget->objectName()));
                QVERIFY2(widget->grab().toImage() != without,
                         qPrintable(name + (dark ? QStringLiteral(" (dark)") : QString())));
            }
        }
    }

    void tabLeavesAPopulatedList() {
        Sandbox sandbox;
        Recorder recorder;
        TMainForm form;
        ShowActive(form);
        ListTwoFiles(form);
        QCOMPARE(form.ListView1->rowCount(), 2);
        for (const Qt::KeyboardModifiers modifiers : {Qt::NoModifier, Qt::ShiftModifier}) {
            form.ListView1->setFocus();
            QTRY_COMPARE(QApplication::focusWidget(), form.ListView1);
            form.ListView1->setCurrentCell(0, 0);
            QTest::keyClick(form.ListView1, modifiers ? Qt::Key_Backtab : Qt::Key_Tab, modifiers);
            QTRY_VERIFY(QApplication::focusWidget() != form.ListView1);
        }
    }

    void shortcutsDoWhatTheirButtonsDo() {
        Sandbox sandbox;
        Recorder recorder;
        TMainForm form;
        ShowActive(form);

        // Ctrl+Return starts, from the list too: with no files it says so.
        QTest::keyClick(&form, Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(recorder.texts(), QStringList{"Please add files before converting."});
        form.ListView1->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), form.ListView1);
        QTest::keyClick(form.ListView1, Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(recorder.texts().size(), 2);

        // Delete in the list removes the selected file; Delete in a text box edits the text.
        ListTwoFiles(form);
        form.sEdit1->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), form.sEdit1);
        form.sEdit1->setText(QStringLiteral("/tmp/out"));
        form.sEdit1->setCursorPosition(0);
        QTest::keyClick(form.sEdit1, Qt::Key_Delete);
        QCOMPARE(form.sEdit1->text(), QStringLiteral("tmp/out"));
        QCOMPARE(form.ListView1->rowCount(), 2);
        form.ListView1->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), form.ListView1);
        form.ListView1->selectRow(0);
        QTest::keyClick(form.ListView1, Qt::Key_Delete);
        QCOMPARE(form.ListView1->rowCount(), 1);
        QCOMPARE(PdfFileList->at(0)->FileName(), QStringLiteral("b.pdf"));

        // Ctrl+Shift+Delete clears the list.
        QTest::keyClick(&form, Qt::Key_Delete, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(form.ListView1->rowCount(), 0);
    }

    // The row menu offers what the row allows, and its Remove removes that row.
    void rowMenu() {
        Sandbox sandbox;
        Recorder recorder;
        TMainForm form;
        ShowActive(form);
        ListTwoFiles(form);
        QStringList offered;
        QTimer::singleShot(0, &form, [&offered] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu != nullptr);
            for (QAction* action : menu->actions()) {
                if (!action->isSeparator())
                    offered.append(action->text() + (action->isEnabled() ? "" : " (off)"));
            }
            for (QAction* action : menu->actions()) {
                if (action->text() == "Remove")
                    action->trigger();
            }
            menu->close();
        });
        const QRect second = form.ListView1->visualRect(form.ListView1->model()->index(1, 0));
        form.ShowRowMenu(second.center());
        QCOMPARE(offered, QStringList({"Unlock... (off)", "Remove", "Open output folder"}));
        QCOMPARE(form.ListView1->rowCount(), 1);
        QCOMPARE(PdfFileList->at(0)->FileName(), QStringLiteral("a.pdf"));
    }

    // The balloon over a protected row goes with Escape, and with the window minimised.
    void balloonBelongsToTheWindow() {
        Sandbox sandbox;
        Recorder recorder;
        TMainForm form;
        ShowActive(form);
        const auto listProtected = [&form] {
            auto entry =
                std::make_unique<TPdffile>("/x/locked.pdf", "locked.pdf", "1 Byte", "", "", false);
            entry->setProbeResult(QString(), StateProtected, QStringLiteral("Protected"));
            PdfFileList->append(std::move(entry));
            form.setListView(platform::WindowMessage(WM_SETLISTVIEW, 0, 0));
            return form.balloonTip() != nullptr;
        };
        QVERIFY(listProtected());
        QTest::keyClick(&form, Qt::Key_Escape);
        QTRY_VERIFY(form.balloonTip() == nullptr);

        QVERIFY(listProtected());
        form.showMinimized();
        QTRY_VERIFY(form.balloonTip() == nullptr);
    }
};

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
