#include "SkinPictures.h"

#include <QFont>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <QtMath>
#include <array>
#include <functional>
#include <map>

namespace tarnel::skin {
namespace {

// The window's palette and the few accents the pictures add to it.
const QColor kWindowBackground(246, 247, 248);
const QColor kSelection(185, 204, 236);
const QColor kFrame(122, 160, 218);
const QColor kNavy(0, 0, 128);
const QColor kPlayerDark(24, 52, 91);
const QColor kPlayerMid(36, 75, 123);
const QColor kPlayed(118, 152, 202);
const QColor kBlue(45, 104, 182);
const QColor kSlate(104, 122, 148);
const QColor kGreen(52, 166, 80);
const QColor kGreenDark(32, 122, 56);
const QColor kRed(208, 72, 62);
const QColor kHintGrey(142, 150, 162);
const QColor kWhite(255, 255, 255);

using TDrawing = std::function<void(QPainter&)>;

qreal ScreenPixelRatio() {
    return qGuiApp != nullptr ? qGuiApp->devicePixelRatio() : 1.0;
}

void UseSmoothDrawing(QPainter& painter) {
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
}

QImage DrawnImage(QSize logicalSize, qreal pixelRatio, const QColor& background, const TDrawing& draw) {
    QImage image(logicalSize * pixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(pixelRatio);
    image.fill(background);
    QPainter painter(&image);
    UseSmoothDrawing(painter);
    draw(painter);
    return image;
}

// Pictures are drawn once per size and screen density; later calls reuse them. The cache keeps
// QImages, which unlike QPixmaps may outlive the application object.
QPixmap CachedPicture(const QString& name, QSize size, const TDrawing& draw) {
    if (size.isEmpty())
        return {};
    static std::map<QString, QImage> cache;
    const qreal ratio = ScreenPixelRatio();
    const QString key =
        QStringLiteral("%1:%2x%3@%4").arg(name).arg(size.width()).arg(size.height()).arg(ratio);
    auto found = cache.find(key);
    if (found == cache.end())
        found = cache.emplace(key, DrawnImage(size, ratio, Qt::transparent, draw)).first;
    return QPixmap::fromImage(found->second);
}

// Small pictures are designed on a fixed grid and scaled, so every size keeps the same proportions.
void UseGrid(QPainter& painter, QSizeF size, qreal gridUnits) {
    painter.scale(size.width() / gridUnits, size.height() / gridUnits);
}

QFont UiFont(qreal pixelSize, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    font.setPixelSize(qMax(1, qRound(pixelSize)));
    font.setBold(bold);
    return font;
}

QPen OutlinePen(const QColor& colour, qreal width) {
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void FillPolygon(QPainter& painter, const QPolygonF& polygon, const QColor& colour) {
    // A hairline of the same colour rounds the sharp corners a little.
    painter.setPen(OutlinePen(colour, 0.8));
    painter.setBrush(colour);
    painter.drawPolygon(polygon);
}

void FillRoundedRect(QPainter& painter, const QRectF& rect, qreal radius, const QColor& colour) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(rect, radius, radius);
}

void DrawStroke(QPainter& painter, QPointF from, QPointF to, const QColor& colour, qreal width) {
    painter.setPen(OutlinePen(colour, width));
    painter.drawLine(from, to);
}

// Text outline centred on `centre` by its ink, not by the font's ascent and descent.
QPainterPath CentredText(const QString& text, const QFont& font, QPointF centre) {
    QPainterPath path;
    path.addText(0, 0, font, text);
    const QRectF ink = path.boundingRect();
    return QTransform::fromTranslate(centre.x() - ink.center().x(), centre.y() - ink.center().y()).map(path);
}

void DrawCentredText(QPainter& painter, const QString& text, const QFont& font, QPointF centre,
                     const QColor& colour) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPath(CentredText(text, font, centre));
}

// --- Shared motifs -----------------------------------------------------------------------------

struct TFilmColours {
    QColor body;
    QColor outline;
    QColor window;
    QColor hole;
};

void DrawFilmStrip(QPainter& painter, const QRectF& strip, int frames, const TFilmColours& colours) {
    const qreal unit = strip.height() / 13.0;
    painter.setPen(colours.outline.alpha() > 0 ? QPen(colours.outline, unit) : QPen(Qt::NoPen));
    painter.setBrush(colours.body);
    painter.drawRoundedRect(strip, 1.8 * unit, 1.8 * unit);

    const qreal hole = 1.6 * unit;
    const qreal holeMargin = 1.3 * unit;
    const int holes = qMax(3, qRound(strip.width() / (3.4 * unit)));
    const qreal holeStep = (strip.width() - 2 * holeMargin - hole) / (holes - 1);
    for (int i = 0; i < holes; ++i) {
        const qreal x = strip.left() + holeMargin + i * holeStep;
        FillRoundedRect(painter, QRectF(x, strip.top() + holeMargin, hole, hole), 0.4 * unit, colours.hole);
        FillRoundedRect(painter, QRectF(x, strip.bottom() - holeMargin - hole, hole, hole), 0.4 * unit,
                        colours.hole);
    }

    const qreal gap = 1.2 * unit;
    const QRectF windows = strip.adjusted(gap * 1.5, 4.0 * unit, -gap * 1.5, -4.0 * unit);
    const qreal windowWidth = (windows.width() - gap * (frames - 1)) / frames;
    for (int i = 0; i < frames; ++i) {
        const QRectF window(windows.left() + i * (windowWidth + gap), windows.top(), windowWidth,
                            windows.height());
        FillRoundedRect(painter, window, 0.5 * unit, colours.window);
    }
}

QPolygonF PlayTriangle(QPointF centre, qreal height) {
    // Centred on the triangle's centroid, which is where the eye puts its middle.
    const qreal width = height * 0.87;
    const qreal left = centre.x() - width / 3.0;
    return QPolygonF({QPointF(left, centre.y() - height / 2), QPointF(left + width, centre.y()),
                      QPointF(left, centre.y() + height / 2)});
}

void DrawDisc(QPainter& painter, QPointF centre, qreal radius, const QColor& fill, const QColor& rim) {
    painter.setPen(QPen(rim, 1.0));
    painter.setBrush(fill);
    painter.drawEllipse(centre, radius, radius);
}

// Buttons get a gentle top light, the same as the big Start button, so they lift off dark panels too.
QLinearGradient TopLit(const QRectF& face, const QColor& base) {
    QLinearGradient shade(face.topLeft(), face.bottomLeft());
    shade.setColorAt(0.0, base.lighter(135));
    shade.setColorAt(1.0, base);
    return shade;
}

void DrawButtonDisc(QPainter& painter, const QColor& base, const QColor& rim) {
    const QRectF face(1.5, 1.5, 21.0, 21.0);
    painter.setPen(QPen(rim, 1.0));
    painter.setBrush(TopLit(face, base));
    painter.drawEllipse(face);
}

// A small round sign at the lower right of a toolbar glyph; the white ring keeps it apart from the
// glyph under it.
void DrawBadge(QPainter& painter, const QColor& fill) {
    const QPointF centre(17.5, 17.5);
    painter.setPen(QPen(kWhite, 1.6));
    painter.setBrush(fill);
    painter.drawEllipse(centre, 5.9, 5.9);
}

void DrawBadgeMinus(QPainter& painter) {
    DrawStroke(painter, QPointF(15.0, 17.5), QPointF(20.0, 17.5), kWhite, 2.0);
}

void DrawBadgePlus(QPainter& painter) {
    DrawBadgeMinus(painter);
    DrawStroke(painter, QPointF(17.5, 15.0), QPointF(17.5, 20.0), kWhite, 2.0);
}

void DrawBadgeCross(QPainter& painter) {
    DrawStroke(painter, QPointF(15.6, 15.6), QPointF(19.4, 19.4), kWhite, 1.9);
    DrawStroke(painter, QPointF(19.4, 15.6), QPointF(15.6, 19.4), kWhite, 1.9);
}

// --- Toolbar glyphs (24-unit grid) --------------------------------------------------------------

const TFilmColours kToolbarFilm{kPlayed, kPlayerMid, kSelection, kWhite};

void DrawAddGlyph(QPainter& painter) {
    DrawFilmStrip(painter, QRectF(1.5, 3.5, 17, 13), 2, kToolbarFilm);
    DrawBadge(painter, kBlue);
    DrawBadgePlus(painter);
}

void DrawRemoveGlyph(QPainter& painter) {
    DrawFilmStrip(painter, QRectF(1.5, 3.5, 17, 13), 2, kToolbarFilm);
    DrawBadge(painter, kRed);
    DrawBadgeMinus(painter);
}

void DrawClearGlyph(QPainter& painter) {
    for (int row = 0; row < 3; ++row) {
        const qreal y = 4.0 + row * 4.6;
        FillRoundedRect(painter, QRectF(2.0, y, 2.8, 2.8), 0.6, kPlayerMid);
        FillRoundedRect(painter, QRectF(6.4, y, 13.6, 2.8), 1.0, kPlayed);
    }
    DrawBadge(painter, kRed);
    DrawBadgeCross(painter);
}

QPainterPath GearPath(QPointF centre, qreal outer, qreal body, qreal hole, int teeth) {
    QPainterPath gear;
    gear.addEllipse(centre, body, body);
    const qreal tipHalfWidth = 1.35;
    const qreal rootHalfWidth = 2.2;
    for (int i = 0; i < teeth; ++i) {
        QPainterPath tooth;
        tooth.addPolygon(
            QPolygonF({QPointF(-tipHalfWidth, -outer), QPointF(tipHalfWidth, -outer),
                       QPointF(rootHalfWidth, -body + 0.6), QPointF(-rootHalfWidth, -body + 0.6)}));
        tooth.closeSubpath();
        QTransform place;
        place.translate(centre.x(), centre.y());
        place.rotate(360.0 * i / teeth);
        gear = gear.united(place.map(tooth));
    }
    QPainterPath hollow;
    hollow.addEllipse(centre, hole, hole);
    return gear.subtracted(hollow);
}

void DrawSettingsGlyph(QPainter& painter) {
    painter.setPen(OutlinePen(kPlayerMid, 1.0));
    painter.setBrush(kSlate);
    painter.drawPath(GearPath(QPointF(12, 12), 10.0, 7.2, 3.0, 8));
}

void DrawEditGlyph(QPainter& painter) {
    painter.save();
    painter.translate(12.0, 12.0);
    painter.rotate(-45.0);
    const QPen outline = OutlinePen(kPlayerDark, 0.9);
    painter.setPen(outline);
    painter.setBrush(kSelection);
    painter.drawRoundedRect(QRectF(-10.5, -2.8, 3.2, 5.6), 1.0, 1.0);
    painter.setBrush(kBlue);
    painter.drawRect(QRectF(-7.3, -2.8, 12.3, 5.6));
    painter.setBrush(QColor(240, 214, 170));
    painter.drawPolygon(QPolygonF({QPointF(5.0, -2.8), QPointF(10.6, 0.0), QPointF(5.0, 2.8)}));
    FillPolygon(painter, QPolygonF({QPointF(8.6, -1.0), QPointF(10.6, 0.0), QPointF(8.6, 1.0)}), kPlayerDark);
    painter.restore();
}

// --- Round glyphs: Start and the player buttons -------------------------------------------------

void DrawStartGlyph(QPainter& painter) {
    DrawButtonDisc(painter, kGreen, kGreenDark);
    FillPolygon(painter, PlayTriangle(QPointF(12.4, 12.0), 10.0), kWhite);
}

void DrawPlayerDisc(QPainter& painter) {
    DrawButtonDisc(painter, kPlayerMid, kPlayerDark);
}

void DrawPlayGlyph(QPainter& painter) {
    DrawPlayerDisc(painter);
    FillPolygon(painter, PlayTriangle(QPointF(12.4, 12.0), 9.5), kWhite);
}

void DrawPauseGlyph(QPainter& painter) {
    DrawPlayerDisc(painter);
    FillRoundedRect(painter, QRectF(8.2, 7.5, 2.9, 9.0), 0.7, kWhite);
    FillRoundedRect(painter, QRectF(12.9, 7.5, 2.9, 9.0), 0.7, kWhite);
}

void DrawStopGlyph(QPainter& painter) {
    DrawPlayerDisc(painter);
    FillRoundedRect(painter, QRectF(8.0, 8.0, 8.0, 8.0), 1.2, kWhite);
}

void DrawSkipGlyph(QPainter& painter, bool forward) {
    DrawPlayerDisc(painter);
    painter.save();
    if (!forward) {
        painter.translate(24.0, 0.0);
        painter.scale(-1.0, 1.0);
    }
    FillPolygon(painter, QPolygonF({QPointF(7.4, 7.7), QPointF(14.0, 12.0), QPointF(7.4, 16.3)}), kWhite);
    FillRoundedRect(painter, QRectF(14.9, 7.6, 2.2, 8.8), 0.6, kWhite);
    painter.restore();
}

void DrawSnapshotGlyph(QPainter& painter) {
    DrawPlayerDisc(painter);
    FillRoundedRect(painter, QRectF(9.0, 7.2, 4.2, 2.4), 0.6, kWhite);
    FillRoundedRect(painter, QRectF(6.0, 8.6, 12.0, 8.4), 1.6, kWhite);
    DrawDisc(painter, QPointF(12.0, 12.8), 2.9, kPlayerMid, kPlayerMid);
    DrawDisc(painter, QPointF(12.0, 12.8), 1.3, kSelection, kSelection);
}

void DrawDropArrowGlyph(QPainter& painter) {
    FillPolygon(painter, QPolygonF({QPointF(7.5, 9.5), QPointF(16.5, 9.5), QPointF(12.0, 14.5)}), kPlayerMid);
}

void DrawButtonGlyph(QPainter& painter, TButtonPicture picture) {
    switch (picture) {
    case TButtonPicture::Add:
        DrawAddGlyph(painter);
        break;
    case TButtonPicture::Remove:
        DrawRemoveGlyph(painter);
        break;
    case TButtonPicture::Clear:
        DrawClearGlyph(painter);
        break;
    case TButtonPicture::Settings:
        DrawSettingsGlyph(painter);
        break;
    case TButtonPicture::Edit:
        DrawEditGlyph(painter);
        break;
    case TButtonPicture::Start:
        DrawStartGlyph(painter);
        break;
    case TButtonPicture::Previous:
        DrawSkipGlyph(painter, false);
        break;
    case TButtonPicture::Play:
        DrawPlayGlyph(painter);
        break;
    case TButtonPicture::Pause:
        DrawPauseGlyph(painter);
        break;
    case TButtonPicture::Stop:
        DrawStopGlyph(painter);
        break;
    case TButtonPicture::Next:
        DrawSkipGlyph(painter, true);
        break;
    case TButtonPicture::Snapshot:
        DrawSnapshotGlyph(painter);
        break;
    case TButtonPicture::DropArrow:
        DrawDropArrowGlyph(painter);
        break;
    }
}

// --- Big Start button ---------------------------------------------------------------------------

void DrawBigStart(QPainter& painter) {
    const QRectF face(0.5, 0.5, 119.0, 55.0);
    painter.setPen(QPen(kGreenDark, 1.0));
    painter.setBrush(TopLit(face, kGreen));
    painter.drawRoundedRect(face, 9.0, 9.0);

    const QPointF iconCentre(30.0, 28.0);
    painter.setPen(QPen(kWhite, 2.4));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(iconCentre, 14.0, 14.0);
    FillPolygon(painter, PlayTriangle(iconCentre + QPointF(0.8, 0.0), 13.0), kWhite);

    painter.setFont(UiFont(21, true));
    painter.setPen(kWhite);
    painter.drawText(QRectF(51.0, 0.0, 66.0, 56.0), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Start"));
}

// --- Catalogue group icons (20-unit grid) -------------------------------------------------------

void DrawMusicPlayerIcon(QPainter& painter) {
    painter.setPen(QPen(kPlayerMid, 1.0));
    painter.setBrush(QColor(236, 240, 246));
    painter.drawRoundedRect(QRectF(4.5, 1.5, 11.0, 17.0), 2.4, 2.4);
    FillRoundedRect(painter, QRectF(6.3, 3.3, 7.4, 5.4), 0.8, kBlue);
    DrawDisc(painter, QPointF(10.0, 13.6), 3.6, kPlayed, kPlayerMid);
    DrawDisc(painter, QPointF(10.0, 13.6), 1.3, kWhite, kPlayerMid);
}

void DrawPhoneIcon(QPainter& painter) {
    FillRoundedRect(painter, QRectF(5.5, 1.0, 9.0, 18.0), 2.2, kPlayerDark);
    FillRoundedRect(painter, QRectF(6.6, 3.4, 6.8, 11.6), 0.5, kFrame);
    FillRoundedRect(painter, QRectF(8.7, 1.9, 2.6, 0.7), 0.35, kPlayed);
    DrawDisc(painter, QPointF(10.0, 17.0), 0.9, kPlayed, kPlayed);
}

void DrawTelevisionIcon(QPainter& painter) {
    FillRoundedRect(painter, QRectF(1.0, 3.0, 18.0, 12.0), 1.8, kPlayerDark);
    FillRoundedRect(painter, QRectF(2.5, 4.5, 15.0, 9.0), 0.6, kFrame);
    FillPolygon(painter, PlayTriangle(QPointF(10.2, 9.0), 5.0), kWhite);
    FillPolygon(painter,
                QPolygonF({QPointF(8.0, 15.0), QPointF(12.0, 15.0), QPointF(12.8, 17.0), QPointF(7.2, 17.0)}),
                kPlayerMid);
    FillRoundedRect(painter, QRectF(5.0, 16.9, 10.0, 1.6), 0.7, kPlayerDark);
}

void DrawReelIcon(QPainter& painter) {
    const QPointF centre(9.2, 9.2);
    DrawStroke(painter, QPointF(13.0, 13.0), QPointF(17.8, 17.8), kPlayerDark, 2.6);
    DrawDisc(painter, centre, 7.8, kBlue, kPlayerDark);
    for (int i = 0; i < 5; ++i) {
        const qreal angle = qDegreesToRadians(-90.0 + 72.0 * i);
        DrawDisc(painter, centre + 4.2 * QPointF(qCos(angle), qSin(angle)), 1.75, kSelection, kSelection);
    }
    DrawDisc(painter, centre, 1.0, kWhite, kWhite);
}

void DrawClapperStripes(QPainter& painter, const QRectF& band) {
    painter.save();
    painter.setClipRect(band);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kWhite);
    const qreal slant = band.height() * 0.8;
    for (qreal x = band.left() + 2.0; x < band.right() + slant; x += 4.4) {
        painter.drawPolygon(
            QPolygonF({QPointF(x, band.top()), QPointF(x + 1.8, band.top()),
                       QPointF(x + 1.8 - slant, band.bottom()), QPointF(x - slant, band.bottom())}));
    }
    painter.restore();
}

void DrawClapperIcon(QPainter& painter) {
    FillRoundedRect(painter, QRectF(2.0, 9.0, 16.0, 9.5), 1.2, kPlayerMid);
    const QRectF bodyBand(2.0, 9.0, 16.0, 3.2);
    FillRoundedRect(painter, bodyBand, 0.6, kPlayerDark);
    DrawClapperStripes(painter, bodyBand);
    FillRoundedRect(painter, QRectF(4.5, 14.4, 11.0, 1.4), 0.6, kPlayed);

    painter.save();
    painter.translate(2.0, 8.2);
    painter.rotate(-14.0);
    const QRectF arm(0.0, -3.2, 16.0, 3.2);
    FillRoundedRect(painter, arm, 0.6, kPlayerDark);
    DrawClapperStripes(painter, arm);
    painter.restore();
}

void DrawNoteIcon(QPainter& painter) {
    const auto drawHead = [&](QPointF centre) {
        painter.save();
        painter.translate(centre);
        painter.rotate(-22.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kBlue);
        painter.drawEllipse(QPointF(0, 0), 2.9, 2.1);
        painter.restore();
    };
    drawHead(QPointF(5.4, 15.6));
    drawHead(QPointF(14.4, 13.6));
    painter.setPen(Qt::NoPen);
    painter.setBrush(kBlue);
    painter.drawRect(QRectF(7.3, 4.8, 1.5, 10.6));
    painter.drawRect(QRectF(16.3, 2.8, 1.5, 10.6));
    FillPolygon(painter,
                QPolygonF({QPointF(7.3, 4.5), QPointF(17.8, 2.1), QPointF(17.8, 5.0), QPointF(7.3, 7.4)}),
                kBlue);
}

// A film frame with a four-pointed spark at its corner: the modern formats.
void DrawModernIcon(QPainter& painter) {
    painter.setPen(QPen(kBlue, 1.2));
    painter.setBrush(QColor(214, 230, 250));
    painter.drawRoundedRect(QRectF(1.5, 5.5, 14.0, 11.0), 2.0, 2.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kBlue);
    FillPolygon(painter, QPolygonF({QPointF(6.5, 8.0), QPointF(11.5, 11.0), QPointF(6.5, 14.0)}), kBlue);
    const QColor spark(255, 170, 0);
    FillPolygon(painter,
                QPolygonF({QPointF(16.0, 0.5), QPointF(17.2, 3.3), QPointF(19.5, 4.5), QPointF(17.2, 5.7),
                           QPointF(16.0, 8.5), QPointF(14.8, 5.7), QPointF(12.5, 4.5), QPointF(14.8, 3.3)}),
                spark);
}

// --- Player bars --------------------------------------------------------------------------------

void DrawGroove(QPainter& painter, const QRectF& groove) {
    painter.setPen(QPen(kPlayerDark, 1.0));
    painter.setBrush(kPlayerMid);
    const qreal radius = groove.height() / 2.0;
    painter.drawRoundedRect(groove, radius, radius);
}

void DrawThumb(QPainter& painter, const QRectF& body, int gripLines) {
    QLinearGradient shade(body.topLeft(), body.topRight());
    shade.setColorAt(0.0, kWhite);
    shade.setColorAt(1.0, QColor(222, 230, 242));
    painter.setPen(QPen(kPlayerDark, 1.0));
    painter.setBrush(shade);
    const qreal radius = body.width() * 0.35;
    painter.drawRoundedRect(body, radius, radius);
    const qreal firstLine = body.center().y() - (gripLines - 1);
    for (int i = 0; i < gripLines; ++i) {
        const qreal y = firstLine + 2.0 * i;
        DrawStroke(painter, QPointF(body.left() + 2.8, y), QPointF(body.right() - 2.8, y), kPlayed, 1.0);
    }
}

// --- Speaker for the mute button ----------------------------------------------------------------

void DrawSpeaker(QPainter& painter, const QColor& colour) {
    FillPolygon(painter,
                QPolygonF({QPointF(11.5, 10.0), QPointF(14.5, 10.0), QPointF(18.8, 6.5), QPointF(18.8, 18.5),
                           QPointF(14.5, 15.0), QPointF(11.5, 15.0)}),
                colour);
}

void DrawMuteFace(QPainter& painter) {
    const QRectF face(0.5, 0.5, 38.0, 24.0);
    painter.setPen(QPen(kPlayerDark, 1.0));
    painter.setBrush(TopLit(face, kPlayerMid));
    painter.drawRoundedRect(face, 5.0, 5.0);
}

void DrawSoundOn(QPainter& painter) {
    DrawMuteFace(painter);
    DrawSpeaker(painter, kWhite);
    painter.setPen(OutlinePen(kWhite, 1.6));
    painter.setBrush(Qt::NoBrush);
    for (const qreal radius : {3.6, 7.0}) {
        const QRectF bounds(18.8 - radius, 12.5 - radius, 2 * radius, 2 * radius);
        painter.drawArc(bounds, -45 * 16, 90 * 16);
    }
}

void DrawSoundMuted(QPainter& painter) {
    DrawMuteFace(painter);
    DrawSpeaker(painter, kSelection);
    const QColor cross(255, 128, 116);
    DrawStroke(painter, QPointF(22.0, 10.0), QPointF(27.0, 15.0), cross, 1.8);
    DrawStroke(painter, QPointF(27.0, 10.0), QPointF(22.0, 15.0), cross, 1.8);
}

// --- Share buttons ------------------------------------------------------------------------------

struct TShareService {
    QColor colour;
    QString letter;
};

TShareService ShareService(int service) {
    switch (service) {
    case 0:
        return {QColor(59, 89, 152), QStringLiteral("f")};
    case 1:
        return {QColor(219, 68, 55), QStringLiteral("G")};
    case 2:
        return {QColor(29, 155, 230), QStringLiteral("t")};
    case 3:
        return {QColor(0, 110, 200), QStringLiteral("d")};
    case 4:
        return {QColor(22, 86, 150), QStringLiteral("D")};
    case 5:
        return {QColor(235, 73, 36), QStringLiteral("S")};
    default:
        return {QColor(255, 69, 0), QStringLiteral("r")};
    }
}

void DrawShareIcon(QPainter& painter, const TShareService& service) {
    FillRoundedRect(painter, QRectF(0.5, 0.5, 15.0, 15.0), 3.2, service.colour);
    DrawCentredText(painter, service.letter, UiFont(12, true), QPointF(8.0, 8.0), kWhite);
}

// --- Expand glyph -------------------------------------------------------------------------------

// Drawn on whole pixels without antialiasing: at this size any blur makes the sign look soft.
void DrawExpandGlyph(QPainter& painter, bool expanded) {
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(QRectF(2, 2, 11, 11), kFrame);
    painter.fillRect(QRectF(3, 3, 9, 9), kWhite);
    const QColor softCorner(kFrame.red(), kFrame.green(), kFrame.blue(), 90);
    for (const QPointF corner : {QPointF(2, 2), QPointF(12, 2), QPointF(2, 12), QPointF(12, 12)}) {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(QRectF(corner, QSizeF(1, 1)), softCorner);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    painter.fillRect(QRectF(5, 7, 5, 1), kNavy);
    if (!expanded)
        painter.fillRect(QRectF(7, 5, 1, 5), kNavy);
}

// --- Application icon (256-unit grid) -----------------------------------------------------------

QPointF PointOnCircle(QPointF centre, qreal radius, qreal degrees) {
    const qreal angle = qDegreesToRadians(degrees);
    return centre + radius * QPointF(qCos(angle), -qSin(angle));
}

void DrawConversionArrow(QPainter& painter, QPointF centre, qreal radius, qreal width) {
    const qreal startDegrees = 115.0;
    const qreal sweepDegrees = -285.0;
    const QRectF bounds(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    QPainterPath arc;
    arc.arcMoveTo(bounds, startDegrees);
    arc.arcTo(bounds, startDegrees, sweepDegrees);
    painter.setPen(QPen(kWhite, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(arc);

    // The head sits where the arc ends and points along its clockwise travel.
    const qreal endDegrees = startDegrees + sweepDegrees;
    const QPointF end = PointOnCircle(centre, radius, endDegrees);
    const qreal endAngle = qDegreesToRadians(endDegrees);
    const QPointF travel(qSin(endAngle), qCos(endAngle));
    const QPointF outward(qCos(endAngle), -qSin(endAngle));
    const qreal head = width * 1.5;
    FillPolygon(painter, QPolygonF({end + outward * head, end + travel * head * 1.3, end - outward * head}),
                kWhite);
}

// Small icons get bolder strokes so that the arrow still reads at 16 pixels.
void DrawAppIcon(QPainter& painter, int pixelSize) {
    const bool small = pixelSize <= 32;
    const QRectF tile(8.0, 8.0, 240.0, 240.0);
    QLinearGradient shade(tile.topLeft(), tile.bottomLeft());
    shade.setColorAt(0.0, QColor(84, 140, 214));
    shade.setColorAt(1.0, QColor(36, 82, 146));
    painter.setPen(Qt::NoPen);
    painter.setBrush(shade);
    painter.drawRoundedRect(tile, 54.0, 54.0);

    const QPointF centre(128.0, 128.0);
    DrawConversionArrow(painter, centre, small ? 76.0 : 78.0, small ? 28.0 : 20.0);
    FillPolygon(painter, PlayTriangle(centre + QPointF(4.0, 0.0), small ? 70.0 : 76.0), kWhite);
}

// --- Cover --------------------------------------------------------------------------------------

void DrawCoverBackground(QPainter& painter, const QRectF& area) {
    QLinearGradient sky(area.topLeft(), area.bottomRight());
    sky.setColorAt(0.0, QColor(252, 253, 255));
    sky.setColorAt(1.0, QColor(208, 223, 245));
    painter.fillRect(area, sky);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 110));
    painter.drawEllipse(QPointF(area.width() * 0.82, -area.height() * 0.15), area.height() * 0.75,
                        area.height() * 0.75);
}

void DrawCoverGraphic(QPainter& painter) {
    struct TFrame {
        QRectF rect;
        int alpha;
    };
    const std::array<TFrame, 3> frames{{{QRectF(98.0, 66.0, 32.0, 30.0), 70},
                                        {QRectF(138.0, 61.0, 40.0, 40.0), 140},
                                        {QRectF(186.0, 55.0, 50.0, 52.0), 255}}};
    for (const TFrame& frame : frames) {
        const auto faded = [&](QColor colour) {
            colour.setAlpha(frame.alpha);
            return colour;
        };
        DrawFilmStrip(painter, frame.rect, 1,
                      {faded(kPlayerMid), QColor(0, 0, 0, 0), faded(kSelection), faded(kWhite)});
    }
    const QPointF disc(274.0, 81.0);
    DrawDisc(painter, disc, 30.0, kBlue, kPlayerMid);
    FillPolygon(painter, PlayTriangle(disc + QPointF(2.0, 0.0), 28.0), kWhite);
}

void DrawCover(QPainter& painter, QSize size) {
    const QRectF area(QPointF(0, 0), size);
    DrawCoverBackground(painter, area);
    DrawCoverGraphic(painter);
    painter.setPen(kPlayerDark);
    painter.setFont(UiFont(46, true));
    painter.drawText(QRectF(0, 118, area.width(), 58), Qt::AlignHCenter | Qt::AlignVCenter,
                     QStringLiteral("Tarnel"));
    painter.setPen(kPlayerMid);
    painter.setFont(UiFont(15, false));
    painter.drawText(QRectF(0, 176, area.width(), 24), Qt::AlignHCenter | Qt::AlignVCenter,
                     QStringLiteral("Video & audio converter"));
    painter.setPen(QPen(kFrame, 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(area.adjusted(0.5, 0.5, -0.5, -0.5));
}

// --- Empty list background ----------------------------------------------------------------------

void DrawListHint(QPainter& painter, QSize size) {
    const qreal scale = qBound(0.5, qMin(size.width() / 522.0, size.height() / 360.0), 1.5);
    const qreal graphicHeight = 120.0 * scale;
    const qreal textHeight = 44.0 * scale;
    const qreal top = (size.height() - graphicHeight - textHeight) / 2.0;
    const QPointF centre(size.width() / 2.0, top + graphicHeight / 2.0);

    const QSizeF stripSize(250.0 * scale, 96.0 * scale);
    const QRectF strip(centre - QPointF(stripSize.width() / 2, stripSize.height() / 2), stripSize);
    DrawFilmStrip(painter, strip, 3, {QColor(240, 244, 250), QColor(226, 234, 246), kWhite, kWhite});

    const qreal radius = 40.0 * scale;
    painter.setPen(QPen(QColor(196, 212, 236), 4.0 * scale));
    painter.setBrush(kWhite);
    painter.drawEllipse(centre, radius, radius);
    const qreal arm = radius * 0.5;
    DrawStroke(painter, centre - QPointF(arm, 0), centre + QPointF(arm, 0), QColor(176, 198, 232),
               7.0 * scale);
    DrawStroke(painter, centre - QPointF(0, arm), centre + QPointF(0, arm), QColor(176, 198, 232),
               7.0 * scale);

    painter.setPen(kHintGrey);
    painter.setFont(UiFont(14.0 * scale, false));
    const QRectF textArea(12.0, top + graphicHeight + 8.0 * scale, size.width() - 24.0, textHeight);
    painter.drawText(textArea, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                     QStringLiteral("Click Add or drop video and audio files here"));
}

} // namespace

QPixmap ButtonPicture(TButtonPicture picture, int size) {
    const QString name = QStringLiteral("button%1").arg(static_cast<int>(picture));
    return CachedPicture(name, QSize(size, size), [&](QPainter& painter) {
        UseGrid(painter, QSizeF(size, size), 24.0);
        DrawButtonGlyph(painter, picture);
    });
}

QPixmap BigStartPicture() {
    return CachedPicture(QStringLiteral("bigstart"), QSize(120, 56), DrawBigStart);
}

QPixmap GroupIcon(int group) {
    static const std::array<void (*)(QPainter&), 7> drawings{
        DrawMusicPlayerIcon, DrawPhoneIcon, DrawTelevisionIcon, DrawReelIcon,
        DrawClapperIcon,     DrawNoteIcon,  DrawModernIcon};
    if (group < 0 || group >= static_cast<int>(drawings.size()))
        return {};
    return CachedPicture(QStringLiteral("group%1").arg(group), QSize(20, 20), drawings[group]);
}

QPixmap ExpandGlyph(bool expanded) {
    return CachedPicture(QStringLiteral("expand%1").arg(expanded), QSize(16, 16),
                         [expanded](QPainter& painter) { DrawExpandGlyph(painter, expanded); });
}

QPixmap MutePicture(bool muted) {
    return CachedPicture(QStringLiteral("mute%1").arg(muted), QSize(39, 25),
                         muted ? DrawSoundMuted : DrawSoundOn);
}

QPixmap ShareIcon(int service) {
    if (service < 0 || service > 6)
        return {};
    return CachedPicture(QStringLiteral("share%1").arg(service), QSize(16, 16),
                         [service](QPainter& painter) { DrawShareIcon(painter, ShareService(service)); });
}

QPixmap SeekTrack(int width) {
    return CachedPicture(QStringLiteral("seektrack"), QSize(width, 16), [width](QPainter& painter) {
        DrawGroove(painter, QRectF(0.5, 5.0, width - 1.0, 6.0));
    });
}

QPixmap SeekThumb() {
    return CachedPicture(QStringLiteral("seekthumb"), QSize(13, 23),
                         [](QPainter& painter) { DrawThumb(painter, QRectF(1.5, 1.5, 10.0, 20.0), 3); });
}

// An orange flag on a stem: the start marker's flag points right, the end marker's left.
QPixmap RangeMarker(bool start) {
    return CachedPicture(
        start ? QStringLiteral("rangestart") : QStringLiteral("rangeend"), QSize(12, 20),
        [start](QPainter& painter) {
            // A light stem over the whole bar with an orange flag pointing into the range.
            const qreal stem = start ? 1.5 : 10.5;
            const qreal tip = start ? 11.5 : 0.5;
            painter.setPen(QPen(Qt::white, 2.0));
            painter.drawLine(QPointF(stem, 0.0), QPointF(stem, 20.0));
            painter.setPen(QPen(Qt::white, 1.0));
            painter.setBrush(QColor(255, 153, 0));
            painter.drawPolygon(QPolygonF({QPointF(stem, 1.0), QPointF(tip, 6.5), QPointF(stem, 12.0)}));
        });
}

QPixmap LayerKindPicture(bool image) {
    return CachedPicture(image ? QStringLiteral("layerimage") : QStringLiteral("layertext"), QSize(14, 14),
                         [image](QPainter& painter) {
                             painter.setPen(QPen(QColor(70, 90, 120), 1.0));
                             painter.setBrush(image ? QColor(196, 226, 250) : QColor(250, 250, 250));
                             painter.drawRoundedRect(QRectF(0.5, 0.5, 13.0, 13.0), 2.0, 2.0);
                             if (image) {
                                 painter.setPen(Qt::NoPen);
                                 painter.setBrush(QColor(255, 190, 40));
                                 painter.drawEllipse(QPointF(9.5, 4.5), 1.8, 1.8);
                                 painter.setBrush(QColor(60, 150, 80));
                                 painter.drawPolygon(
                                     QPolygonF({QPointF(1.5, 12.5), QPointF(5.5, 6.0), QPointF(8.5, 10.0),
                                                QPointF(10.0, 8.5), QPointF(12.5, 12.5)}));
                                 return;
                             }
                             painter.setPen(QPen(QColor(40, 60, 110), 2.0));
                             painter.drawLine(QPointF(3.5, 3.5), QPointF(10.5, 3.5));
                             painter.drawLine(QPointF(7.0, 3.5), QPointF(7.0, 11.5));
                         });
}

QPixmap VolumeTrack(int width) {
    return CachedPicture(QStringLiteral("volumetrack"), QSize(width, 12), [width](QPainter& painter) {
        DrawGroove(painter, QRectF(0.5, 4.0, width - 1.0, 4.0));
    });
}

QPixmap VolumeThumb() {
    return CachedPicture(QStringLiteral("volumethumb"), QSize(11, 17),
                         [](QPainter& painter) { DrawThumb(painter, QRectF(1.5, 1.5, 8.0, 14.0), 2); });
}

QImage CoverPicture() {
    const QSize size(399, 239);
    return DrawnImage(size, 1.0, kWindowBackground, [size](QPainter& painter) { DrawCover(painter, size); })
        .convertToFormat(QImage::Format_RGB32);
}

QImage ListBackground(int width, int height) {
    const QSize size(qMax(1, width), qMax(1, height));
    return DrawnImage(size, 1.0, kWhite, [size](QPainter& painter) { DrawListHint(painter, size); })
        .convertToFormat(QImage::Format_RGB32);
}

QImage AppIconImage(int size) {
    if (size <= 0)
        return {};
    return DrawnImage(QSize(size, size), 1.0, Qt::transparent, [size](QPainter& painter) {
        UseGrid(painter, QSizeF(size, size), 256.0);
        DrawAppIcon(painter, size);
    });
}

QIcon AppIcon() {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(AppIconImage(size)));
    return icon;
}

} // namespace tarnel::skin
