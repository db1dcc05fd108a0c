// The user guide, Gleaner.html from the program's folder, in a window of its
// own (no owner: it stays open beside the main window), opened at its
// contents. Esc closes it.
#pragma once
#include <QString>
#include <QWidget>

class QScreen;
class QTextBrowser;

inline constexpr const char* kHelpFileName = "Gleaner.html";
inline constexpr const char* kHelpContentsAnchor = "contents";

class HelpWindow : public QWidget {
  Q_OBJECT
 public:
  explicit HelpWindow(QWidget* parent = nullptr);

  // Shows the guide at its contents; a file that cannot be read is said so
  // in the window itself. False in that case.
  bool OpenContents(const QString& file);
  QTextBrowser* Browser() const { return browser_; }
  // Fits the window into the screen's free area and centres it there.
  void PlaceOn(QScreen* screen);

 private:
  QTextBrowser* browser_ = nullptr;
};
