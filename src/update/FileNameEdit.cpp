#include "FileNameEdit.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QToolButton>

namespace {
QString DroppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().isEmpty()) return {};
    return data->urls().first().toLocalFile();
}
} // namespace

TFileNameEdit::TFileNameEdit(QWidget* parent)
    : QLineEdit(parent), browse_(new QToolButton(parent)) {
    setAcceptDrops(true);
    browse_->setText(QStringLiteral("..."));
    browse_->setToolTip(QStringLiteral("Click to browse for file"));
    connect(browse_, &QToolButton::clicked, this, [this] { Browse(); });
}

void TFileNameEdit::Browse() {
    const QString file = QFileDialog::getOpenFileName(window(), DialogTitle, text(), Filter,
                                                      nullptr, QFileDialog::DontUseNativeDialog);
    if (!file.isEmpty()) setText(file);
}

void TFileNameEdit::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        QLineEdit::dragEnterEvent(event);
}

void TFileNameEdit::dropEvent(QDropEvent* event) {
    const QString file = DroppedFile(event->mimeData());
    if (file.isEmpty()) return QLineEdit::dropEvent(event);
    setText(file);
    event->acceptProposedAction();
}

// The browse button follows the edit's enabled state.
void TFileNameEdit::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) browse_->setEnabled(isEnabled());
    QLineEdit::changeEvent(event);
}
