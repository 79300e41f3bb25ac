// Build tool: renders the application icon (trimsense.svg) to PNG. It reads
// the plain SVG shapes the icon uses (rect with rx, line, circle; fill,
// stroke, stroke-width, stroke-dasharray) and paints them with QPainter, so
// the build needs no SVG library.
//   icon_render INPUT.svg OUTPUT.png SIZE
#include <QColor>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QXmlStreamReader>
#include <cstdio>

namespace {

double Num(const QXmlStreamAttributes& a, const char* name, double fallback = 0) {
  bool ok = false;
  const double v = a.value(QLatin1String(name)).toDouble(&ok);
  return ok ? v : fallback;
}

void SetStyle(QPainter& p, const QXmlStreamAttributes& a) {
  const QString fill = a.value(QLatin1String("fill")).toString();
  p.setBrush(fill.isEmpty() || fill == QLatin1String("none") ? QBrush(Qt::NoBrush) : QBrush(QColor(fill)));
  const QString stroke = a.value(QLatin1String("stroke")).toString();
  if (stroke.isEmpty() || stroke == QLatin1String("none")) {
    p.setPen(Qt::NoPen);
    return;
  }
  QPen pen(QColor(stroke), Num(a, "stroke-width", 1));
  pen.setCapStyle(Qt::FlatCap);
  const QString dashes = a.value(QLatin1String("stroke-dasharray")).toString();
  if (!dashes.isEmpty()) {
    QList<qreal> pattern;
    for (const QString& d : dashes.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
      pattern << d.toDouble() / pen.widthF();
    }
    pen.setDashPattern(pattern);
  }
  p.setPen(pen);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: icon_render INPUT.svg OUTPUT.png SIZE\n");
    return 2;
  }
  QFile in(QString::fromLocal8Bit(argv[1]));
  if (!in.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "icon_render: cannot read %s\n", argv[1]);
    return 1;
  }
  const int size = QString::fromLatin1(argv[3]).toInt();
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QXmlStreamReader xml(&in);
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    const auto a = xml.attributes();
    const QStringView tag = xml.name();
    if (tag == QLatin1String("svg")) {
      const QStringList box = a.value(QLatin1String("viewBox")).toString().split(QLatin1Char(' '));
      const double width = box.size() == 4 ? box[2].toDouble() : Num(a, "width", size);
      p.scale(size / width, size / width);
    } else if (tag == QLatin1String("rect")) {
      SetStyle(p, a);
      const double rx = Num(a, "rx");
      p.drawRoundedRect(QRectF(Num(a, "x"), Num(a, "y"), Num(a, "width"), Num(a, "height")), rx, rx);
    } else if (tag == QLatin1String("line")) {
      SetStyle(p, a);
      p.drawLine(QPointF(Num(a, "x1"), Num(a, "y1")), QPointF(Num(a, "x2"), Num(a, "y2")));
    } else if (tag == QLatin1String("circle")) {
      SetStyle(p, a);
      const double r = Num(a, "r");
      p.drawEllipse(QPointF(Num(a, "cx"), Num(a, "cy")), r, r);
    }
  }
  p.end();
  if (xml.hasError() || !image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
    std::fprintf(stderr, "icon_render: cannot render %s\n", argv[1]);
    return 1;
  }
  return 0;
}
