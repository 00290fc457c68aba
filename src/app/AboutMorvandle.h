#pragma once

#include <QDialog>
#include <string>

class QLabel;

// The about box: the program's name, version and a short description.
class TAboutBox : public QDialog {
  public:
    // versionText is the program's version ("2.2.0.1"); empty when it has none.
    TAboutBox(QWidget* owner, std::string versionText);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void FormShow();
    void FitText();

    std::string versionText_;
    QLabel* productName_ = nullptr;
    QLabel* version_ = nullptr;
};
