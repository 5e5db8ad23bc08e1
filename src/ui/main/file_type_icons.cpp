#include "ui/main/file_type_icons.h"

#include <initializer_list>
#include <string_view>

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointF>
#include <QPolygonF>
#include <QRectF>

namespace ferretta::ui::main {

namespace {

using FT = app::FileType;

// Letters as strokes in a unit box, so that the icons look the same whether or not the system
// has fonts (the offscreen test platform may have none).
void drawLetter(QPainter& painter, char letter, const QRectF& box, qreal penWidth) {
    QPainterPath path;
    const auto stroke = [&](std::initializer_list<QPointF> points) {
        bool first = true;
        for (const QPointF& point : points) {
            const QPointF at(box.left() + point.x() * box.width(),
                             box.top() + point.y() * box.height());
            if (first) {
                path.moveTo(at);
                first = false;
            } else {
                path.lineTo(at);
            }
        }
    };
    switch (letter) {
        case 'T':
            stroke({{0, 0}, {1, 0}});
            stroke({{0.5, 0}, {0.5, 1}});
            break;
        case 'W':
            stroke({{0, 0}, {0.25, 1}, {0.5, 0.35}, {0.75, 1}, {1, 0}});
            break;
        case 'X':
            stroke({{0, 0}, {1, 1}});
            stroke({{1, 0}, {0, 1}});
            break;
        case 'P':
            stroke({{0, 1}, {0, 0}, {0.75, 0}, {1, 0.2}, {1, 0.4}, {0.75, 0.58}, {0, 0.58}});
            break;
        case 'D':
            stroke({{0, 0}, {0, 1}, {0.6, 1}, {1, 0.7}, {1, 0.3}, {0.6, 0}, {0, 0}});
            break;
        case 'F':
            stroke({{1, 0}, {0, 0}, {0, 1}});
            stroke({{0, 0.5}, {0.8, 0.5}});
            break;
        case 'A':
            stroke({{0, 1}, {0.5, 0}, {1, 1}});
            stroke({{0.22, 0.62}, {0.78, 0.62}});
            break;
        default:
            break;
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::white, penWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(path);
}

// A sheet of paper with a folded corner; every document icon starts from it.
void drawPage(QPainter& painter) {
    const QPolygonF page({{3.5, 1.5}, {9.5, 1.5}, {12.5, 4.5}, {12.5, 14.5}, {3.5, 14.5}});
    painter.setPen(QPen(QColor(0x70, 0x70, 0x70), 1.0));
    painter.setBrush(Qt::white);
    painter.drawPolygon(page);
    painter.setBrush(QColor(0xdc, 0xdc, 0xdc));
    painter.drawPolygon(QPolygonF({{9.5, 1.5}, {9.5, 4.5}, {12.5, 4.5}}));
}

// A page with a coloured band across it, carrying the letters of the type.
void drawDocument(QPainter& painter, QColor band, std::string_view letters) {
    drawPage(painter);
    painter.setPen(Qt::NoPen);
    painter.setBrush(band);
    if (letters.size() == 1) {
        painter.drawRect(QRectF(1.0, 6.5, 10.0, 7.5));
        drawLetter(painter, letters.front(), QRectF(3.3, 8.2, 5.4, 4.2), 1.4);
        return;
    }
    // Several letters need the full width of the icon.
    painter.drawRect(QRectF(0.5, 7.5, 15.0, 6.5));
    const qreal width = 13.0 / static_cast<qreal>(letters.size());
    for (std::size_t i = 0; i < letters.size(); ++i) {
        const qreal left = 1.5 + static_cast<qreal>(i) * width;
        drawLetter(painter, letters[i], QRectF(left + 0.5, 9.0, width - 1.8, 3.6), 1.0);
    }
}

void drawEnvelope(QPainter& painter, QColor fill, QColor edge) {
    painter.setPen(QPen(edge, 1.0));
    painter.setBrush(fill);
    painter.drawRect(QRectF(1.5, 3.5, 13.0, 9.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(QPolygonF({{1.5, 3.5}, {8.0, 9.0}, {14.5, 3.5}}));
}

void drawCalendar(QPainter& painter) {
    painter.setPen(QPen(QColor(0x70, 0x70, 0x70), 1.0));
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(1.5, 2.5, 13.0, 12.0));
    painter.setBrush(QColor(0xc8, 0x32, 0x2b));
    painter.drawRect(QRectF(1.5, 2.5, 13.0, 3.5));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x80, 0x80, 0x80));
    for (qreal y : {7.5, 10.5}) {
        for (qreal x : {3.5, 7.0, 10.5}) {
            painter.drawRect(QRectF(x, y, 2.0, 2.0));
        }
    }
}

void drawPerson(QPainter& painter, QColor fill) {
    painter.setPen(QPen(fill.darker(140), 1.0));
    painter.setBrush(fill);
    painter.drawEllipse(QPointF(8.0, 5.0), 3.0, 3.0);
    QPainterPath body;
    body.moveTo(2.5, 14.5);
    body.cubicTo(2.5, 8.5, 13.5, 8.5, 13.5, 14.5);
    body.closeSubpath();
    painter.drawPath(body);
}

void drawTask(QPainter& painter) {
    painter.setPen(QPen(QColor(0x80, 0x68, 0x40), 1.0));
    painter.setBrush(QColor(0xff, 0xfd, 0xf0));
    painter.drawRect(QRectF(2.5, 2.5, 11.0, 12.0));
    painter.setBrush(QColor(0x90, 0x90, 0x90));
    painter.drawRect(QRectF(5.5, 1.5, 5.0, 2.5));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0x2e, 0x8b, 0x3a), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(QPolygonF({{4.8, 8.8}, {7.2, 11.2}, {11.4, 6.0}}));
}

void drawNote(QPainter& painter) {
    const QColor edge(0xb8, 0x9a, 0x00);
    painter.setPen(QPen(edge, 1.0));
    painter.setBrush(QColor(0xff, 0xe8, 0x60));
    painter.drawPolygon(
        QPolygonF({{2.5, 2.5}, {13.5, 2.5}, {13.5, 10.5}, {10.5, 13.5}, {2.5, 13.5}}));
    painter.setBrush(QColor(0xe0, 0xc0, 0x30));
    painter.drawPolygon(QPolygonF({{10.5, 13.5}, {10.5, 10.5}, {13.5, 10.5}}));
}

// Draws one type into a square image of the given side; the drawing is made in 16 units.
QImage drawImage(app::FileType fileType, int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side / 16.0, side / 16.0);
    switch (fileType) {
        case FT::Text:
            drawDocument(painter, QColor(0x5a, 0x62, 0x70), "T");
            break;
        case FT::Word:
            drawDocument(painter, QColor(0x2b, 0x57, 0x9a), "W");
            break;
        case FT::Excel:
            drawDocument(painter, QColor(0x21, 0x73, 0x46), "X");
            break;
        case FT::PowerPoint:
            drawDocument(painter, QColor(0xd2, 0x47, 0x26), "P");
            break;
        case FT::Pdf:
            drawDocument(painter, QColor(0xd0, 0x02, 0x1b), "PDF");
            break;
        case FT::Access:
            drawDocument(painter, QColor(0xa4, 0x37, 0x3a), "A");
            break;
        case FT::OutlookMail:
            drawEnvelope(painter, QColor(0xff, 0xf4, 0xc0), QColor(0x8a, 0x6d, 0x00));
            break;
        case FT::OutlookExpressMail:
            drawEnvelope(painter, QColor(0xe4, 0xf0, 0xff), QColor(0x2b, 0x57, 0x9a));
            break;
        case FT::OutlookCalendar:
            drawCalendar(painter);
            break;
        case FT::OutlookContact:
            drawPerson(painter, QColor(0x3b, 0x6f, 0xb6));
            break;
        case FT::OutlookExpressContact:
            drawPerson(painter, QColor(0x4a, 0x9a, 0x5a));
            break;
        case FT::OutlookTask:
            drawTask(painter);
            break;
        case FT::OutlookNote:
            drawNote(painter);
            break;
        default:
            drawPage(painter);
            break;
    }
    painter.end();
    return image;
}

}  // namespace

QIcon drawFileTypeIcon(app::FileType fileType) {
    QIcon icon;
    // Both sizes are drawn rather than scaled, so that lines stay sharp on high-DPI screens.
    for (int side : {16, 32}) {
        icon.addPixmap(QPixmap::fromImage(drawImage(fileType, side)));
    }
    return icon;
}

const QIcon& FileTypeIcons::icon(app::FileType fileType) const {
    const std::size_t number = app::slotOf(fileType);
    const bool known = number < m_icons.size();
    QIcon& slot = m_icons[known ? number : 0];
    if (slot.isNull()) {
        slot = drawFileTypeIcon(known ? fileType : FT::Unknown);
    }
    return slot;
}

}  // namespace ferretta::ui::main
