#pragma once

#include <QFont>
#include <QWidget>
#include <memory>

#include "station_window/slot_face.h"

class QPushButton;

namespace quillon {

// One slot on the bench: its label large, a large colour for its state,
// why its box failed in words, the box's identity and tries, the bar and
// the counts. Drawn by hand at a size taken from the tile, so that 1 or 32
// tiles each fill their place and stay readable from a few metres.
class SlotTile : public QWidget {
    Q_OBJECT

public:
    SlotTile(QString label, QString name, QString device, QWidget* parent = nullptr);
    ~SlotTile() override;

    // Redraws only when something shown has changed; blinkPhase alternates
    // once a second, as the main window's lamp does while it is busy.
    void Show(const SlotFace& face, bool blinkPhase);
    const SlotFace& Face() const { return m_face; }
    const QString& Label() const { return m_label; }
    // The label as the tile draws it at its present size: whole, in a
    // smaller font, or with its middle left out.
    QString ShownLabel();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // The person says a new box is in the held slot (its button, or Enter).
    void ReleaseAsked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Layout;
    struct Wrapped {
        QString text;
        QRect rect;
        int size = 0;
        bool bold = false;
        QFont font;     // fitted
        QString shown;  // the text, its end cut when even the smallest font is too large
    };
    static Wrapped Wrap(const QRect& rect, const QString& text, QFont font);
    void DrawWrapped(QPainter& painter, const QRect& rect, const QString& text, const QFont& font);
    const Layout& CurrentLayout();
    void PlaceReleaseButton();
    void PaintHead(QPainter& painter, const Layout& layout);
    void PaintBand(QPainter& painter, const Layout& layout);
    void PaintBody(QPainter& painter, const Layout& layout);

    QString m_label;
    QString m_device;
    SlotFace m_face;
    bool m_blinkPhase = false;
    QPushButton* m_release = nullptr;
    std::unique_ptr<Layout> m_layout;  // for the present size and font; none until painted
    QString m_wordFontFor;             // the large word that m_wordFont fits
    QFont m_wordFont;
    Wrapped m_wrapped;  // the last text fitted to its rows
};

}  // namespace quillon
