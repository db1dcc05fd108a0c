// The setup dialog over the installer, offscreen, with its messages recorded.
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/image_builder.h"
#include "setup/setup_dialog.h"

namespace fs = std::filesystem;

class SetupDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void ShowsTheFolderAndItsButtons() {
    TempDir tmp;
    install::Environment env;
    env.home = tmp.Path();
    SetupDialog dialog(env, GLEANER_BIN_DIR, QStringLiteral("/home/ann/.local/opt/Gleaner"),
                       [](const std::string&) {});
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Enter Setup Folder for Gleaner 2001"));
    QCOMPARE(dialog.TargetEdit()->text(), QStringLiteral("/home/ann/.local/opt/Gleaner"));
    QStringList buttons;
    for (QPushButton* b : dialog.findChildren<QPushButton*>()) buttons << b->text();
    QCOMPARE(buttons, (QStringList{"&Browse", "OK", "Cancel"}));
    QVERIFY(dialog.OkButton()->isDefault());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    // A look at it, for whoever changes the layout.
    if (const char* dir = std::getenv("GLEANER_SCREENSHOT_DIR")) {
      QVERIFY(dialog.grab().save(QString::fromLocal8Bit(dir) + "/setup_dialog.png"));
    }
  }

  void OkInstallsOrStaysOpenOnABadPath() {
    TempDir tmp;
    install::Environment env;
    env.home = tmp.Path();
    env.xdgDataHome = tmp.File("data");
    std::vector<std::string> said;
    SetupDialog dialog(env, GLEANER_BIN_DIR, QString(),
                       [&](const std::string& text) { said.push_back(text); });
    dialog.show();
    dialog.TargetEdit()->setText(QString::fromStdString(tmp.File("a//b")));
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    QCOMPARE(said, (std::vector<std::string>{"Enter a valid path"}));
    QVERIFY(dialog.isVisible());
    QVERIFY(dialog.OkButton()->isEnabled());

    said.clear();
    dialog.TargetEdit()->setText(QString::fromStdString(tmp.File("Gleaner")));
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    QCOMPARE(said, (std::vector<std::string>{"Setup Success!"}));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(dialog.Installed());
    QVERIFY(!dialog.OkButton()->isEnabled());
    QVERIFY(fs::exists(tmp.File("data/applications/Gleaner 2001/Gleaner.desktop")));
    QVERIFY(fs::exists(tmp.File("Gleaner/gleaner")));
  }
};

QTEST_MAIN(SetupDialogTest)
#include "setup_dialog_test.moc"
