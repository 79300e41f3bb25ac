// Turns the manual's HTML source and the screenshots into Manual.pdf with Qt's
// text layout and PDF writer, so the build needs no other document tool.
//
//   make_manual <manual.html> <image folder> <Manual.pdf>
//
// Every image the source names must exist: a manual without its screenshots
// is not delivered.
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextDocument>
#include <QUrl>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_manual <manual.html> <image folder> <Manual.pdf>\n");
    return 2;
  }
  // The build machine needs no display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);

  QFile source(QString::fromLocal8Bit(argv[1]));
  if (!source.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "make_manual: cannot read %s\n", argv[1]);
    return 1;
  }
  const QString html = QString::fromUtf8(source.readAll());
  const QString imageFolder = QString::fromLocal8Bit(argv[2]);

  QTextDocument document;
  const QRegularExpression imageSource(QStringLiteral("<img[^>]*src=\"([^\"]+)\""));
  for (auto it = imageSource.globalMatch(html); it.hasNext();) {
    const QString name = it.next().captured(1);
    QImage image(imageFolder + QLatin1Char('/') + name);
    if (image.isNull()) {
      std::fprintf(stderr, "make_manual: image %s not found in %s\n", qPrintable(name), argv[2]);
      return 1;
    }
    document.addResource(QTextDocument::ImageResource, QUrl(name), image);
  }
  document.setHtml(html);

  QPdfWriter writer(QString::fromLocal8Bit(argv[3]));
  writer.setTitle(document.metaInformation(QTextDocument::DocumentTitle));
  writer.setCreator(QStringLiteral("Trimsense build"));
  writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(18, 18, 18, 18),
                                   QPageLayout::Millimeter));
  writer.setResolution(300);
  document.print(&writer);
  return 0;
}
