// Writes the program icon as PNG files in the desktop's icon-theme layout,
// <folder>/<N>x<N>/morvane.png, for the install step.

#include "ui/glyphs.h"

#include <QDir>
#include <QString>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    for (int size : morvane::kProgramIconSizes) {
        const QString folder = QStringLiteral("%1x%1").arg(size);
        const QString file = root.filePath(folder + QStringLiteral("/morvane.png"));
        if (!root.mkpath(folder) || !morvane::ProgramIconImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
