#include "files/PictureFiles.h"

#include "platform/PathUtils.h"
#include "platform/ProductIdentity.h"
#include "platform/ProgramPath.h"
#include "services/U_TovikUtils.h"

#include <QFile>
#include <QSaveFile>

namespace tintavo {

QString FileExtension(const QString& fileName) {
    return QString::fromStdString(platform::ExtractFileExt(fileName.toStdString()));
}

QString ExportFileName(const QString& chosen) {
    const QString extension = FileExtension(chosen);
    if (extension == QLatin1String(".jpg") || extension == QLatin1String(".jpeg")) {
        return chosen;
    }
    return chosen + QStringLiteral(".jpg");
}

QString DataFilePath(const QString& suffix) {
    const std::string folder = GetDataFolder(platform::ProgramFilePath(), ApplicationTitle);
    return QString::fromStdString(folder) + QString::fromLatin1(ApplicationTitle) + suffix;
}

QString CopyExportFile(const QString& from, const QString& to) {
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) {
        return source.errorString();
    }
    QSaveFile target(to);
    if (!target.open(QIODevice::WriteOnly)) {
        return target.errorString();
    }
    constexpr qint64 chunk = 1 << 20;
    while (!source.atEnd()) {
        const QByteArray bytes = source.read(chunk);
        if (bytes.isEmpty() && source.error() != QFileDevice::NoError) {
            target.cancelWriting();
            return source.errorString();
        }
        if (target.write(bytes) != bytes.size()) {
            target.cancelWriting();
            return target.errorString();
        }
    }
    if (!target.commit()) {
        return target.errorString();
    }
    return {};
}

} // namespace tintavo
