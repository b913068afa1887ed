#pragma once

#include <QFont>
#include <QWidget>
#include <memory>

#include "station_window/slot_face.h"

namespace quillon {

// One slot on the bench: its name and device, a large colour for its
// state, the worker's status text, the bar, the last verdict and the
// counts. Drawn by hand at a size taken from the tile, so that 1 or 32
// tiles each fill their place and stay readable from a few metres.
class SlotTile : public QWidget {
    Q_OBJECT

public:
    SlotTile(QString name, QString device, QWidget* parent = nullptr);
    ~SlotTile() override;

    // Redraws only when something shown has changed; blinkPhase alternates
    // once a second, as the main window's lamp does while it is busy.
    void Show(const SlotFace& face, bool blinkPhase);
    const SlotFace& Face() const { return m_face; }
    const QString& Name() const { return m_name; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Layout;
    const Layout& CurrentLayout();
    void PaintHead(QPainter& painter, const Layout& layout);
    void PaintBand(QPainter& painter, const Layout& layout);
    void PaintBody(QPainter& painter, const Layout& layout);

    QString m_name;
    QString m_device;
    SlotFace m_face;
    bool m_blinkPhase = false;
    std::unique_ptr<Layout> m_layout;  // for the present size and font; none until painted
    QString m_wordFontFor;             // the large word that m_wordFont fits
    QFont m_wordFont;
};

}  // namespace quillon
