#include "station_window/slot_tile.h"

#include <QEvent>
#include <QIcon>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>
#include <algorithm>

namespace quillon {

namespace {

struct BandColours {
    QColor fill;
    QColor blink;  // the second phase while busy
    QColor text;
};

// Strong colours that read the same on a light or a dark desktop.
BandColours ColoursOf(SlotLook look) {
    switch (look) {
        case SlotLook::Working:
            return {QColor(0xf5, 0xb0, 0x0b), QColor(0xe0, 0x7b, 0x09), Qt::black};
        case SlotLook::Ok:
            return {QColor(0x2e, 0x7d, 0x32), {}, Qt::white};
        case SlotLook::Failed:
            return {QColor(0xc6, 0x28, 0x28), {}, Qt::white};
        case SlotLook::LineFault:
            return {QColor(0x7b, 0x1f, 0xa2), {}, Qt::white};
        case SlotLook::Paused:
            return {QColor(0x70, 0x70, 0x70), {}, Qt::white};
        case SlotLook::Waiting:
        default:
            return {QColor(0x3f, 0x63, 0x9a), {}, Qt::white};
    }
}

QFont FontOfHeight(const QFont& base, int pixels, bool bold) {
    QFont font = base;
    font.setPixelSize(std::max(9, pixels));
    font.setBold(bold);
    return font;
}

void DrawLine(QPainter& painter, const QRect& rect, const QString& text, const QFont& font,
              int flags = Qt::AlignLeft | Qt::AlignVCenter,
              Qt::TextElideMode elide = Qt::ElideRight) {
    painter.setFont(font);
    QString shown = QFontMetrics(font).elidedText(text, elide, rect.width());
    painter.drawText(rect, flags, shown);
}

// A text that should be read whole: a smaller font before any of it is cut.
QFont ShrunkToFit(const QFont& font, const QString& text, int width) {
    QFont fitted = font;
    int textWidth = QFontMetrics(font).horizontalAdvance(text);
    if (textWidth > width && textWidth > 0) {
        fitted.setPixelSize(
            std::max(9, std::max(font.pixelSize() * 2 / 3, font.pixelSize() * width / textWidth)));
    }
    return fitted;
}

// The largest font, up to the given height, in which text fits the width.
QFont FittingFont(const QFont& base, const QString& text, int height, int width) {
    QFont font = FontOfHeight(base, height, true);
    int textWidth = QFontMetrics(font).horizontalAdvance(text);
    if (textWidth > width && textWidth > 0) {
        font.setPixelSize(std::max(9, font.pixelSize() * width / textWidth));
    }
    return font;
}

// The main window's lamp: red and red-edged in turn while a box is under
// way, green when all is well; none beside a failure, which the green one
// would contradict. Read once: tiles paint it many times a second.
const QIcon* Lamp(const SlotFace& face, bool edge) {
    static const QIcon idle(QStringLiteral(":/station/idle.svg"));
    static const QIcon red(QStringLiteral(":/station/busy.svg"));
    static const QIcon redEdged(QStringLiteral(":/station/busy-edge.svg"));
    if (face.busy) {
        return edge ? &redEdged : &red;
    }
    return face.look == SlotLook::Ok || face.look == SlotLook::Waiting ? &idle : nullptr;
}

}  // namespace

// Where each part of the tile goes and in which font, for one size of the
// tile: made once a size, since tiles are painted many times a second.
struct SlotTile::Layout {
    Layout(const QRect& area, const QFont& base) {
        const int margin = std::max(4, area.height() / 28);
        QRect inner = area.adjusted(margin, margin, -margin, -margin);
        int y = inner.top();
        auto take = [&](double share) {
            QRect row(inner.left(), y, inner.width(), static_cast<int>(inner.height() * share));
            y += row.height();
            return row;
        };
        head = take(0.13);
        device = take(0.09);
        y += margin / 2;
        band = take(0.31);
        y += margin / 2;
        status = take(0.10);
        bar = take(0.09).adjusted(0, 1, 0, -1);
        bytes = take(0.08);
        last = take(0.09);
        reason = take(0.08);
        lamp = QRect(head.topLeft(), QSize(head.height(), head.height()));
        // Clear of the frame, 3 pixels wide around a tile with the focus.
        body =
            QRect(QPoint(area.left() + 4, status.top()), QPoint(area.right() - 4, reason.bottom()));
        word = band.adjusted(6, 0, -6, -band.height() * 3 / 10);
        detail = band.adjusted(6, band.height() * 7 / 10, -6, -3);
        const int line = std::max(9, head.height() * 3 / 4);
        nameFont = FontOfHeight(base, line, true);
        countsFont = FontOfHeight(base, line * 4 / 5, false);
        deviceFont = FontOfHeight(base, device.height() * 3 / 4, false);
        detailFont = FontOfHeight(base, detail.height() * 3 / 4, false);
        bodyFont = FontOfHeight(base, status.height() * 3 / 4, false);
        smallFont = FontOfHeight(base, bytes.height() * 3 / 4, false);
        lastFont = FontOfHeight(base, last.height() * 3 / 4, false);
        failedFont = FontOfHeight(base, last.height() * 3 / 4, true);
    }
    QRect head, lamp, device, band, word, detail, status, bar, bytes, last, reason;
    QRect body;  // the rows under the band
    QFont nameFont, countsFont, deviceFont, detailFont, bodyFont, smallFont, lastFont, failedFont;
};

SlotTile::SlotTile(QString name, QString device, QWidget* parent)
    : QWidget(parent), m_name(std::move(name)), m_device(std::move(device)) {
    setFocusPolicy(Qt::StrongFocus);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(m_name);
}

SlotTile::~SlotTile() = default;

QSize SlotTile::sizeHint() const {
    return {320, 240};
}

QSize SlotTile::minimumSizeHint() const {
    return {170, 128};
}

void SlotTile::Show(const SlotFace& face, bool blinkPhase) {
    bool blinkShows = (face.busy || face.blinkStatus) && blinkPhase != m_blinkPhase;
    if (face == m_face && !blinkShows) {
        return;
    }
    // Ten times a second a download moves only the status, the bar and the
    // bytes: those rows alone are drawn again.
    bool sameTop = face.look == m_face.look && face.word == m_face.word &&
                   face.detail == m_face.detail && face.counts == m_face.counts &&
                   face.busy == m_face.busy;
    bool bodyOnly = sameTop && !blinkShows && m_layout;
    m_face = face;
    m_blinkPhase = blinkPhase;
    setAccessibleDescription(face.word + ". " + face.status + ". " + face.last);
    setToolTip(face.reason.isEmpty() ? QString() : face.last + "\n" + face.reason);
    if (bodyOnly) {
        update(m_layout->body);
    } else {
        update();
    }
}

void SlotTile::resizeEvent(QResizeEvent*) {
    m_layout.reset();
}

void SlotTile::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        m_layout.reset();
    }
    QWidget::changeEvent(event);
}

const SlotTile::Layout& SlotTile::CurrentLayout() {
    if (!m_layout) {
        m_layout = std::make_unique<Layout>(rect(), font());
        m_wordFontFor.clear();
    }
    return *m_layout;
}

void SlotTile::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const Layout& layout = CurrentLayout();
    if (layout.body.contains(event->rect())) {
        painter.fillRect(layout.body, palette().base());
        PaintBody(painter, layout);
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), palette().base());
    QPen frame(hasFocus() ? palette().highlight().color() : palette().mid().color());
    frame.setWidth(hasFocus() ? 3 : 1);
    painter.setPen(frame);
    painter.drawRect(rect().adjusted(1, 1, -2, -2));
    PaintHead(painter, layout);
    PaintBand(painter, layout);
    PaintBody(painter, layout);
}

void SlotTile::PaintHead(QPainter& painter, const Layout& layout) {
    if (const QIcon* lamp = Lamp(m_face, m_blinkPhase)) {
        lamp->paint(&painter, layout.lamp);
    }
    painter.setPen(palette().text().color());
    int countsWidth = QFontMetrics(layout.countsFont).horizontalAdvance(m_face.counts);
    QRect name = layout.head.adjusted(layout.lamp.width() * 4 / 3, 0, -countsWidth - 6, 0);
    DrawLine(painter, name, m_name, layout.nameFont, Qt::AlignLeft | Qt::AlignVCenter,
             Qt::ElideLeft);
    DrawLine(painter, layout.head, m_face.counts, layout.countsFont,
             Qt::AlignRight | Qt::AlignVCenter);
    // A device path says most at its end: "...by-id/usb-FTDI_A12-port0".
    painter.setPen(palette().placeholderText().color());
    DrawLine(painter, layout.device, m_device, layout.deviceFont, Qt::AlignLeft | Qt::AlignVCenter,
             Qt::ElideLeft);
}

void SlotTile::PaintBand(QPainter& painter, const Layout& layout) {
    BandColours colours = ColoursOf(m_face.look);
    QColor fill =
        m_face.busy && m_blinkPhase && colours.blink.isValid() ? colours.blink : colours.fill;
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    const int radius = std::max(3, layout.band.height() / 12);
    painter.drawRoundedRect(layout.band, radius, radius);
    painter.setPen(colours.text);
    if (m_wordFontFor != m_face.word) {
        m_wordFont =
            FittingFont(font(), m_face.word, layout.word.height() * 3 / 5, layout.word.width());
        m_wordFontFor = m_face.word;
    }
    painter.setFont(m_wordFont);
    painter.drawText(layout.word, Qt::AlignCenter, m_face.word);
    DrawLine(painter, layout.detail, m_face.detail, layout.detailFont,
             Qt::AlignHCenter | Qt::AlignTop);
}

void SlotTile::PaintBody(QPainter& painter, const Layout& layout) {
    painter.setPen(palette().text().color());
    if (!(m_face.blinkStatus && m_blinkPhase)) {
        DrawLine(painter, layout.status, m_face.status,
                 ShrunkToFit(layout.bodyFont, m_face.status, layout.status.width()));
    }
    QStyleOptionProgressBar bar;
    bar.initFrom(this);
    bar.rect = layout.bar;
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = m_face.position;
    bar.state |= QStyle::State_Horizontal;
    style()->drawControl(QStyle::CE_ProgressBar, &bar, &painter, this);
    painter.setPen(palette().text().color());
    DrawLine(painter, layout.bytes, m_face.bytes, layout.smallFont);
    const QFont& last = m_face.look == SlotLook::Failed ? layout.failedFont : layout.lastFont;
    DrawLine(painter, layout.last, m_face.last,
             ShrunkToFit(last, m_face.last, layout.last.width()));
    painter.setPen(palette().placeholderText().color());
    DrawLine(painter, layout.reason, m_face.reason,
             ShrunkToFit(layout.smallFont, m_face.reason, layout.reason.width()));
}

}  // namespace quillon
