#pragma once

#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

// A one-line label for a value of any length (a path, a server name, a server's reply): it
// never widens its window; what does not fit ends in "…", and the tool tip shows it whole.
// text() keeps the whole text.
class TElidedLabel : public QLabel {
  public:
    explicit TElidedLabel(const QString& text = {}, QWidget* parent = nullptr)
        : QLabel(text, parent) {
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setMinimumWidth(1);
        setProperty("elides", true);
    }

    QString Shown() const {
        return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        style()->drawItemText(&painter, contentsRect(), alignment() | Qt::TextSingleLine, palette(),
                              isEnabled(), Shown(), foregroundRole());
    }
    bool event(QEvent* e) override {
        if (e->type() != QEvent::ToolTip || !toolTip().isEmpty() || Shown() == text())
            return QLabel::event(e);
        QToolTip::showText(static_cast<QHelpEvent*>(e)->globalPos(), text(), this);
        return true;
    }
};
