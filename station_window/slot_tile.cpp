#include "station_window/slot_tile.h"

#include <QIcon>
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

// The tile cut into rows, each as high as a share of the tile.
struct SlotTile::Rows {
    explicit Rows(const QRect& area) {
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
        line = std::max(9, head.height() * 3 / 4);
    }
    QRect head, device, band, status, bar, bytes, last, reason;
    int line;
};

SlotTile::SlotTile(QString name, QString device, QWidget* parent)
    : QWidget(parent), m_name(std::move(name)), m_device(std::move(device)) {
    setFocusPolicy(Qt::StrongFocus);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(m_name);
}

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
    m_face = face;
    m_blinkPhase = blinkPhase;
    setAccessibleDescription(face.word + ". " + face.status + ". " + face.last);
    setToolTip(face.reason.isEmpty() ? QString() : face.last + "\n" + face.reason);
    update();
}

void SlotTile::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), palette().base());
    QPen frame(hasFocus() ? palette().highlight().color() : palette().mid().color());
    frame.setWidth(hasFocus() ? 3 : 1);
    painter.setPen(frame);
    painter.drawRect(rect().adjusted(1, 1, -2, -2));
    Rows rows(rect());
    PaintHead(painter, rows);
    PaintBand(painter, rows);
    PaintBody(painter, rows);
}

void SlotTile::PaintHead(QPainter& painter, const Rows& rows) {
    QRect lampRect(rows.head.left(), rows.head.top(), rows.head.height(), rows.head.height());
    if (const QIcon* lamp = Lamp(m_face, m_blinkPhase)) {
        lamp->paint(&painter, lampRect);
    }
    painter.setPen(palette().text().color());
    QFont countsFont = FontOfHeight(font(), rows.line * 4 / 5, false);
    int countsWidth = QFontMetrics(countsFont).horizontalAdvance(m_face.counts);
    QRect name = rows.head.adjusted(lampRect.width() + rows.line / 3, 0, -countsWidth - 6, 0);
    DrawLine(painter, name, m_name, FontOfHeight(font(), rows.line, true),
             Qt::AlignLeft | Qt::AlignVCenter, Qt::ElideLeft);
    DrawLine(painter, rows.head, m_face.counts, countsFont, Qt::AlignRight | Qt::AlignVCenter);
    // A device path says most at its end: "...by-id/usb-FTDI_A12-port0".
    painter.setPen(palette().placeholderText().color());
    DrawLine(painter, rows.device, m_device,
             FontOfHeight(font(), rows.device.height() * 3 / 4, false),
             Qt::AlignLeft | Qt::AlignVCenter, Qt::ElideLeft);
}

void SlotTile::PaintBand(QPainter& painter, const Rows& rows) {
    BandColours colours = ColoursOf(m_face.look);
    QColor fill =
        m_face.busy && m_blinkPhase && colours.blink.isValid() ? colours.blink : colours.fill;
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    const int radius = std::max(3, rows.band.height() / 12);
    painter.drawRoundedRect(rows.band, radius, radius);
    painter.setPen(colours.text);
    QRect word = rows.band.adjusted(6, 0, -6, -rows.band.height() * 3 / 10);
    painter.setFont(FittingFont(font(), m_face.word, word.height() * 3 / 5, word.width()));
    painter.drawText(word, Qt::AlignCenter, m_face.word);
    QRect detail = rows.band.adjusted(6, rows.band.height() * 7 / 10, -6, -3);
    DrawLine(painter, detail, m_face.detail, FontOfHeight(font(), detail.height() * 3 / 4, false),
             Qt::AlignHCenter | Qt::AlignTop);
}

void SlotTile::PaintBody(QPainter& painter, const Rows& rows) {
    painter.setPen(palette().text().color());
    QFont body = FontOfHeight(font(), rows.status.height() * 3 / 4, false);
    if (!(m_face.blinkStatus && m_blinkPhase)) {
        DrawLine(painter, rows.status, m_face.status,
                 ShrunkToFit(body, m_face.status, rows.status.width()));
    }
    QStyleOptionProgressBar bar;
    bar.initFrom(this);
    bar.rect = rows.bar;
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = m_face.position;
    bar.state |= QStyle::State_Horizontal;
    style()->drawControl(QStyle::CE_ProgressBar, &bar, &painter, this);
    painter.setPen(palette().text().color());
    QFont small = FontOfHeight(font(), rows.bytes.height() * 3 / 4, false);
    DrawLine(painter, rows.bytes, m_face.bytes, small);
    QFont last = FontOfHeight(font(), rows.last.height() * 3 / 4, m_face.look == SlotLook::Failed);
    DrawLine(painter, rows.last, m_face.last, ShrunkToFit(last, m_face.last, rows.last.width()));
    painter.setPen(palette().placeholderText().color());
    DrawLine(painter, rows.reason, m_face.reason,
             ShrunkToFit(small, m_face.reason, rows.reason.width()));
}

}  // namespace quillon
