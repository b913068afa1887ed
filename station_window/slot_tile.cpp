#include "station_window/slot_tile.h"

#include <QEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
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

const QColor kFailedText(0xb7, 0x1c, 0x1c);
const QColor kScanFrame(0x00, 0x97, 0xa7);

QFont FontOfHeight(const QFont& base, int pixels, bool bold) {
    QFont font = base;
    font.setPixelSize(std::max(9, pixels));
    font.setBold(bold);
    return font;
}

// A line of text, its middle left out when it is too long: names and
// paths differ at their start as often as at their end.
void DrawLine(QPainter& painter, const QRect& rect, const QString& text, const QFont& font,
              int flags = Qt::AlignLeft | Qt::AlignVCenter,
              Qt::TextElideMode elide = Qt::ElideRight) {
    painter.setFont(font);
    QString shown = QFontMetrics(font).elidedText(text, elide, rect.width());
    painter.drawText(rect, flags, shown);
}

// The largest font, up to the given height and down to a floor, in which
// text fits the width.
QFont FittingFont(const QFont& base, const QString& text, int height, int width, bool bold,
                  int floor = 9) {
    QFont font = FontOfHeight(base, height, bold);
    int textWidth = QFontMetrics(font).horizontalAdvance(text);
    if (textWidth > width && textWidth > 0) {
        font.setPixelSize(std::max(floor, font.pixelSize() * width / textWidth));
    }
    return font;
}

constexpr int kWrapFlags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap;

}  // namespace

// A text to be read whole, on as many lines as the rectangle holds at the
// font's size: a smaller font before any of it is cut, and then its end.
SlotTile::Wrapped SlotTile::Wrap(const QRect& rect, const QString& text, QFont font) {
    Wrapped wrapped{text, rect, font.pixelSize(), font.bold(), {}, text};
    const int floor = std::max(9, font.pixelSize() * 2 / 3);
    while (font.pixelSize() > floor &&
           QFontMetrics(font).boundingRect(rect, kWrapFlags, text).height() > rect.height()) {
        font.setPixelSize(font.pixelSize() - 1);
    }
    wrapped.font = font;
    QFontMetrics metrics(font);
    if (metrics.boundingRect(rect, kWrapFlags, text).height() > rect.height()) {
        // Still too long: as many whole lines as fit, the last one cut.
        int lines = std::max(1, rect.height() / metrics.lineSpacing());
        wrapped.shown = metrics.elidedText(text, Qt::ElideRight, rect.width() * lines);
    }
    return wrapped;
}

// Fitted once for each text: a download redraws its rows ten times a second.
void SlotTile::DrawWrapped(QPainter& painter, const QRect& rect, const QString& text,
                           const QFont& font) {
    const Wrapped& last = m_wrapped;
    if (last.text != text || last.rect != rect || last.size != font.pixelSize() ||
        last.bold != font.bold()) {
        m_wrapped = Wrap(rect, text, font);
    }
    painter.setFont(m_wrapped.font);
    painter.drawText(rect, kWrapFlags, m_wrapped.shown);
}

namespace {

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
// tile: made once a size, since tiles are painted many times a second. The
// label, the state and the cause take most of it: they are read from afar.
struct SlotTile::Layout {
    Layout(const QRect& area, const QFont& base) {
        const int margin = std::max(4, area.height() / 36);
        QRect inner = area.adjusted(margin, margin, -margin, -margin);
        int y = inner.top();
        auto take = [&](double share) {
            QRect row(inner.left(), y, inner.width(), static_cast<int>(inner.height() * share));
            y += row.height();
            return row;
        };
        head = take(0.18);
        y += margin / 2;
        band = take(0.26);
        y += margin / 2;
        message = take(0.22);
        box = take(0.11);
        bar = take(0.08).adjusted(0, 1, 0, -1);
        foot = take(0.10);
        // No box under way: its cause takes the box's row too, on up to
        // three lines, and the box's identity goes where the bar was.
        cause = message.united(box);
        causeBox = QRect(bar.left(), bar.top() - 1, bar.width(), foot.top() - bar.top());
        lamp = QRect(head.topLeft(), QSize(head.height() * 3 / 4, head.height() * 3 / 4))
                   .translated(0, head.height() / 8);
        label = head.adjusted(lamp.width() + margin, 0, 0, 0);
        // Clear of the frame, 3 pixels wide around a tile with the focus.
        body =
            QRect(QPoint(area.left() + 4, message.top()), QPoint(area.right() - 4, foot.bottom()));
        // A held slot's button takes the foot, down to the margin: its box's
        // cause and identity stay in view above it.
        release = QRect(foot.topLeft(), QPoint(foot.right(), inner.bottom()));
        word = band.adjusted(6, 0, -6, -band.height() * 3 / 10);
        detail = band.adjusted(6, band.height() * 7 / 10, -6, -3);
        labelFont = FontOfHeight(base, head.height() * 4 / 5, true);
        detailFont = FontOfHeight(base, detail.height() * 4 / 5, true);
        messageFont = FontOfHeight(base, message.height() * 2 / 5, false);
        causeFont = FontOfHeight(base, cause.height() * 2 / 7, true);
        boxFont = FontOfHeight(base, box.height() * 4 / 5, true);
        footFont = FontOfHeight(base, foot.height() * 3 / 4, false);
    }
    QRect head, lamp, label, band, word, detail, message, box, bar, foot, release;
    QRect cause, causeBox;
    QRect body;  // the rows under the band
    QFont labelFont, detailFont, messageFont, causeFont, boxFont, footFont;
};

SlotTile::SlotTile(QString label, QString name, QString device, QWidget* parent)
    : QWidget(parent), m_label(std::move(label)), m_device(std::move(device)) {
    setFocusPolicy(Qt::StrongFocus);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(m_label);
    setToolTip(name == m_device ? m_device : name + "\n" + m_device);
    m_release = new QPushButton(QStringLiteral("New box in (Enter)"), this);
    m_release->setObjectName("releaseButton");
    m_release->setFocusPolicy(Qt::NoFocus);
    m_release->hide();
    connect(m_release, &QPushButton::clicked, this, &SlotTile::ReleaseAsked);
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
                   face.detail == m_face.detail && face.busy == m_face.busy &&
                   face.awaitingScan == m_face.awaitingScan && face.held == m_face.held;
    bool bodyOnly = sameTop && !blinkShows && m_layout;
    m_face = face;
    m_blinkPhase = blinkPhase;
    setAccessibleDescription(face.word + ". " + face.cause + ". " + face.status + ". " + face.last);
    if (m_release->isVisible() != face.held) {
        m_release->setVisible(face.held);
        PlaceReleaseButton();
    }
    if (bodyOnly) {
        update(m_layout->body);
    } else {
        update();
    }
}

void SlotTile::keyPressEvent(QKeyEvent* event) {
    bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && m_face.held) {
        Q_EMIT ReleaseAsked();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SlotTile::resizeEvent(QResizeEvent*) {
    m_layout.reset();
    PlaceReleaseButton();
}

void SlotTile::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        m_layout.reset();
    }
    QWidget::changeEvent(event);
}

void SlotTile::PlaceReleaseButton() {
    if (!m_release->isVisible()) {
        return;
    }
    const Layout& layout = CurrentLayout();
    QFont font = FontOfHeight(this->font(), layout.release.height() * 3 / 5, true);
    m_release->setFont(font);
    m_release->setGeometry(layout.release);
}

const SlotTile::Layout& SlotTile::CurrentLayout() {
    if (!m_layout) {
        m_layout = std::make_unique<Layout>(rect(), font());
        m_wordFontFor.clear();
    }
    return *m_layout;
}

QString SlotTile::ShownLabel() {
    const Layout& layout = CurrentLayout();
    // Down to two thirds of the row's font before its middle is left out.
    QFont font = FittingFont(this->font(), m_label, layout.labelFont.pixelSize(),
                             layout.label.width(), true, layout.labelFont.pixelSize() * 2 / 3);
    return QFontMetrics(font).elidedText(m_label, Qt::ElideMiddle, layout.label.width());
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
    QColor frameColour = m_face.awaitingScan ? kScanFrame
                         : hasFocus()        ? palette().highlight().color()
                                             : palette().mid().color();
    QPen frame(frameColour);
    frame.setWidth(m_face.awaitingScan ? 6 : hasFocus() ? 3 : 1);
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
    QFont font = FittingFont(this->font(), m_label, layout.labelFont.pixelSize(),
                             layout.label.width(), true, layout.labelFont.pixelSize() * 2 / 3);
    DrawLine(painter, layout.label, m_label, font, Qt::AlignLeft | Qt::AlignVCenter,
             Qt::ElideMiddle);
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
        m_wordFont = FittingFont(font(), m_face.word, layout.word.height() * 4 / 5,
                                 layout.word.width(), true);
        m_wordFontFor = m_face.word;
    }
    painter.setFont(m_wordFont);
    painter.drawText(layout.word, Qt::AlignCenter, m_face.word);
    DrawLine(painter, layout.detail, m_face.detail,
             FittingFont(font(), m_face.detail, layout.detailFont.pixelSize(),
                         layout.detail.width(), true),
             Qt::AlignHCenter | Qt::AlignTop);
}

void SlotTile::PaintBody(QPainter& painter, const Layout& layout) {
    // Why the box failed, large; else what the box is doing now.
    const bool failed = !m_face.cause.isEmpty();
    if (failed) {
        painter.setPen(kFailedText);
        DrawWrapped(painter, layout.cause, m_face.cause, layout.causeFont);
    } else if (!(m_face.blinkStatus && m_blinkPhase)) {
        painter.setPen(palette().text().color());
        DrawWrapped(painter, layout.message, m_face.status, layout.messageFont);
    }
    const QRect& box = failed ? layout.causeBox : layout.box;
    const QString boxText = m_face.awaitingScan ? QStringLiteral("SCAN THE BOX NOW") : m_face.box;
    painter.setPen(m_face.awaitingScan ? kScanFrame : palette().text().color());
    DrawLine(painter, box, boxText,
             FittingFont(font(), boxText, layout.boxFont.pixelSize(), box.width(), true),
             Qt::AlignLeft | Qt::AlignVCenter, Qt::ElideMiddle);
    if (m_face.held) {
        return;  // the release button stands over the foot
    }
    if (m_face.look == SlotLook::Working) {
        QStyleOptionProgressBar bar;
        bar.initFrom(this);
        bar.rect = layout.bar;
        bar.minimum = 0;
        bar.maximum = 100;
        bar.progress = m_face.position;
        bar.state |= QStyle::State_Horizontal;
        style()->drawControl(QStyle::CE_ProgressBar, &bar, &painter, this);
    }
    painter.setPen(palette().placeholderText().color());
    int countsWidth = QFontMetrics(layout.footFont).horizontalAdvance(m_face.counts) + 8;
    DrawLine(painter, layout.foot, m_face.counts, layout.footFont);
    QRect right = layout.foot.adjusted(countsWidth, 0, 0, 0);
    const QString& tail = m_face.bytes.isEmpty() ? m_device : m_face.bytes;
    DrawLine(painter, right, tail, layout.footFont, Qt::AlignRight | Qt::AlignVCenter,
             Qt::ElideMiddle);
}

}  // namespace quillon
