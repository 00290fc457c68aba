#pragma once

#include <QLineEdit>
#include <QString>

class QToolButton;

// A file-name edit: a line edit that takes a file dropped on it (its local path), with a
// browse button beside it that opens a file dialog. The button is a sibling for the
// caller's layout.
class TFileNameEdit final : public QLineEdit {
  public:
    explicit TFileNameEdit(QWidget* parent = nullptr);

    QToolButton* BrowseButton() const { return browse_; }
    QString DialogTitle = QStringLiteral("Locate file");
    QString Filter;

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void Browse();

    QToolButton* browse_;
};
