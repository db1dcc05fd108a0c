// The window's own dialogs and the Qt prompt port: their controls, ids,
// limits and texts, and message boxes with the texts' buttons and icons.
#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/about_dialog.h"
#include "app/byte_dialog.h"
#include "app/goto_dialog.h"
#include "app/qt_prompt_port.h"
#include "app/rename_dialog.h"

namespace {

// Runs check on the message box once it is up, then presses its button.
void WhenBoxShows(std::function<void(QMessageBox*)> check, QMessageBox::StandardButton press) {
  QTimer::singleShot(0, [check, press] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    QVERIFY(box != nullptr);
    check(box);
    box->button(press)->click();
  });
}

QStringList ButtonTexts(QMessageBox* box) {
  QStringList texts;
  for (QAbstractButton* b : box->buttons()) texts << b->text().remove('&');
  texts.sort();
  return texts;
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void byteDialogHasSixteenBoxesInTwoRows() {
    ByteBoxTexts texts;
    for (int k = 0; k < 16; ++k) texts[static_cast<size_t>(k)] = QString::asprintf("%02X", k * 17);
    ByteDialog dialog(texts);
    QCOMPARE(dialog.windowTitle(), QString("Enter Bytes to Change"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const int top = dialog.Box(1000)->y();
    const int bottom = dialog.Box(1008)->y();
    QVERIFY(bottom > top);
    for (int id = 1000; id <= 1015; ++id) {
      QLineEdit* box = dialog.findChild<QLineEdit*>(QString::number(id));
      QVERIFY(box != nullptr);
      QCOMPARE(box, dialog.Box(id));
      QCOMPARE(box->property("controlId").toInt(), id);
      QCOMPARE(box->maxLength(), 2);
      QCOMPARE(box->text(), QString::asprintf("%02X", (id - 1000) * 17));
      QCOMPARE(box->y(), id < 1008 ? top : bottom);
      if (id != 1000 && id != 1008) QVERIFY(box->x() > dialog.Box(id - 1)->x());
    }
    QVERIFY(dialog.Box(999) == nullptr && dialog.Box(1016) == nullptr);
    // Typing is limited to two characters a box.
    dialog.Box(1003)->clear();
    QTest::keyClicks(dialog.Box(1003), "abc");
    QCOMPARE(dialog.Texts()[3], QString("ab"));
    QCOMPARE(dialog.Texts()[4], QString("44"));
    auto* buttons = dialog.findChild<QDialogButtonBox*>();
    QVERIFY(buttons != nullptr);
    QCOMPARE(buttons->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
  }

  void gotoDialogHasItsLabelAndBox() {
    GotoDialog dialog("1234");
    QCOMPARE(dialog.windowTitle(), QString("Goto a Specific Sector"));
    QLabel* label = dialog.findChild<QLabel*>();
    QVERIFY(label != nullptr);
    QCOMPARE(label->text(), QString("Enter Sector Number to Goto:"));
    QLineEdit* box = dialog.findChild<QLineEdit*>("1015");
    QVERIFY(box != nullptr);
    QCOMPARE(box->maxLength(), 9);
    QCOMPARE(dialog.Text(), QString("1234"));
    box->clear();
    QTest::keyClicks(box, "12345678901");
    QCOMPARE(dialog.Text(), QString("123456789"));
    // A first sector longer than the limit is shown whole, never cut.
    GotoDialog far("4000000000");
    QCOMPARE(far.Text(), QString("4000000000"));
  }

  void aboutBoxNamesTheProgram() {
    AboutDialog about;
    QCOMPARE(about.windowTitle(), QString("About Gleaner"));
    QStringList texts;
    for (QLabel* label : about.findChildren<QLabel*>())
      if (!label->text().isEmpty()) texts << label->text();
    QCOMPARE(texts, QStringList({"Gleaner Version 1.0", "Gleaner 2001"}));
    QLabel* icon = about.findChildren<QLabel*>().first();
    QVERIFY(!icon->pixmap().isNull());
    auto* buttons = about.findChild<QDialogButtonBox*>();
    QCOMPARE(buttons->standardButtons(), QDialogButtonBox::Ok);
  }

  void renameDialogHasItsTitleLabelsAndTheNameItChanges() {
    RenameDialog dialog;
    QCOMPARE(dialog.windowTitle(), QString("Rename After Recovery"));
    QStringList labels;
    for (QLabel* label : dialog.findChildren<QLabel*>())
      if (label != dialog.RefusalLabel()) labels << label->text();
    QCOMPARE(labels, QStringList({"DOS File Name", "Extension"}));
    // Asked, it shows the entry's present name; a refused name stays in the
    // open dialog with the refusal beside it; OK gives back what is in the boxes.
    ShortNameInput input{"!EADME", "TXT"};
    const ShortNameCheck check = [](const ShortNameInput& typed) -> std::optional<std::string> {
      if (typed.name == "A*B") return std::string("The name contains a character a short name cannot hold: *");
      return std::nullopt;
    };
    QStringList shown;
    QTimer::singleShot(0, [&] {
      auto* open = qobject_cast<RenameDialog*>(QApplication::activeModalWidget());
      QVERIFY(open != nullptr);
      shown << open->NameBox()->text() << open->ExtensionBox()->text();
      open->NameBox()->setText("A*B");
      open->accept();
      shown << QString::number(open->isVisible()) << open->NameBox()->text() << open->RefusalLabel()->text()
            << QString::number(open->RefusalLabel()->isVisible());
      open->NameBox()->setText("README");
      open->accept();
    });
    QVERIFY(RenameDialog::Asker(nullptr)(input, check));
    QCOMPARE(shown, QStringList({"!EADME", "TXT", "1", "A*B",
                                 "The name contains a character a short name cannot hold: *", "1"}));
    QCOMPARE(QString::fromStdString(input.name), QString("README"));
    QCOMPARE(QString::fromStdString(input.extension), QString("TXT"));
  }

  void promptPortShowsMessageBoxes() {
    QWidget owner;
    QtPromptPort prompt(&owner);
    WhenBoxShows(
        [](QMessageBox* box) {
          QCOMPARE(box->text(), QString("Changes written successfully!"));
          QCOMPARE(box->windowTitle(), QString("Gleaner"));
          QCOMPARE(box->icon(), QMessageBox::Information);
          QCOMPARE(ButtonTexts(box), QStringList({"OK"}));
        },
        QMessageBox::Ok);
    prompt.Message("Changes written successfully!", {}, PromptIcon::Information);

    WhenBoxShows(
        [](QMessageBox* box) {
          QCOMPARE(box->text(), QString("Are you sure to write to disk?"));
          QCOMPARE(box->icon(), QMessageBox::Question);
          QCOMPARE(ButtonTexts(box), QStringList({"No", "Yes"}));
          QCOMPARE(box->defaultButton(), box->button(QMessageBox::Yes));
        },
        QMessageBox::Yes);
    QVERIFY(prompt.AskYesNo("Are you sure to write to disk?", {}, PromptIcon::Question));
    WhenBoxShows([](QMessageBox*) {}, QMessageBox::No);
    QVERIFY(!prompt.AskYesNo("Are you sure to write to disk?", {}, PromptIcon::Question));
    // A question whose Yes destroys something has No for Enter and Escape.
    WhenBoxShows(
        [](QMessageBox* box) {
          QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
          QCOMPARE(box->escapeButton(), static_cast<QAbstractButton*>(box->button(QMessageBox::No)));
        },
        QMessageBox::No);
    QVERIFY(!prompt.AskYesNoDefaultNo("Overwrite them?", {}, PromptIcon::Exclamation));

    WhenBoxShows(
        [](QMessageBox* box) {
          QCOMPARE(box->windowTitle(), QString("Scan"));
          QCOMPARE(box->icon(), QMessageBox::Warning);
          QCOMPARE(ButtonTexts(box), QStringList({"Abort", "Ignore", "Retry"}));
        },
        QMessageBox::Retry);
    QCOMPARE(prompt.AskAbortRetryIgnore("Sector not accessible!", "Scan", PromptIcon::Exclamation),
             PromptAnswer::Retry);
    WhenBoxShows([](QMessageBox* box) { QCOMPARE(box->icon(), QMessageBox::Critical); }, QMessageBox::Ignore);
    QCOMPARE(prompt.AskAbortRetryIgnore("x", {}, PromptIcon::Stop), PromptAnswer::Ignore);
  }

  void promptPortWritesTheStatusPanes() {
    QLabel first, second;
    QtPromptPort prompt;
    prompt.SetStatusLabels(&first, &second);
    prompt.SetIdleText(0, "Ready");
    QCOMPARE(first.text(), QString("Ready"));
    prompt.SetStatus(0, "Wait....");
    prompt.SetStatus(1, "Current Sector Number: 7");
    QCOMPARE(first.text(), QString("Wait...."));
    QCOMPARE(second.text(), QString("Current Sector Number: 7"));
    // Emptied, the first pane says the program is idle; the second is empty.
    prompt.SetStatus(0, "");
    prompt.SetStatus(1, "");
    QCOMPARE(first.text(), QString("Ready"));
    QCOMPARE(second.text(), QString());
    prompt.SetStatus(2, "nowhere");

    // A running dialog's controls, by id.
    QLineEdit edit;
    QPushButton button;
    prompt.SetDialogControls({{1001, &edit}, {1002, &button}});
    prompt.SetControlText(1001, "12 %");
    prompt.EnableControl(1002, false);
    prompt.SetControlText(1999, "no such control");
    QCOMPARE(edit.text(), QString("12 %"));
    QVERIFY(!button.isEnabled());
  }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
