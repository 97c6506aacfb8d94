// Scales the window icon to one of the icon theme's sizes for installing:
//
//   scale_icon resources/pic/uart.png OUT.png SIZE
//
// The drawing is 200 x 200, which no hicolor size directory takes, so the build writes the
// sizes it installs from it.

#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QTextStream>

namespace {

constexpr int kUsageError = 2;
constexpr int kFailure = 1;

}  // namespace

int main(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    QTextStream err(stderr);
    if (arguments.size() != 4) {
        err << "usage: scale_icon ICON.png OUT.png SIZE\n";
        return kUsageError;
    }
    bool sizeOk = false;
    const int size = arguments.at(3).toInt(&sizeOk);
    if (!sizeOk || size <= 0 || size > 1024) {
        err << "scale_icon: bad size " << arguments.at(3) << '\n';
        return kUsageError;
    }

    QImageReader reader(arguments.at(1));
    const QImage icon = reader.read();
    if (icon.isNull()) {
        err << "scale_icon: cannot read " << arguments.at(1) << ": " << reader.errorString()
            << '\n';
        return kFailure;
    }
    // Theme icons are square; a stretched drawing would be a mistake upstream.
    if (icon.width() != icon.height()) {
        err << "scale_icon: " << arguments.at(1) << " is " << icon.width() << " x " << icon.height()
            << ", not square\n";
        return kFailure;
    }

    const QImage scaled = icon.convertToFormat(QImage::Format_ARGB32)
                              .scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                              .convertToFormat(QImage::Format_ARGB32);
    QImageWriter writer(arguments.at(2), "png");
    if (!writer.write(scaled)) {
        err << "scale_icon: cannot write " << arguments.at(2) << ": " << writer.errorString()
            << '\n';
        return kFailure;
    }
    return 0;
}
