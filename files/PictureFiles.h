#pragma once

#include <QString>

namespace tintavo {

// The extension of a file name: from the last "." after the last path delimiter, dot
// included; empty when there is none.
QString FileExtension(const QString& fileName);

// The name an export is written to: ".jpg" is appended unless the name ends in exactly
// ".jpg" or ".jpeg" (case included, so photo.JPG becomes photo.JPG.jpg).
QString ExportFileName(const QString& chosen);

// A file of the program in its data folder: the data folder, the application title, then
// the suffix (".jpg" for the working copy, "_save.jpg" for the temporary export).
QString DataFilePath(const QString& suffix);

// Copies the finished export to the name the user chose. The bytes go to a temporary file
// beside the target which then replaces it in one step, so a failure (a read-only target, a
// missing folder, a refused name, a full disk) leaves no partial file and an existing target
// as it was. Returns an empty text on success, else the reason.
[[nodiscard]] QString CopyExportFile(const QString& from, const QString& to);

} // namespace tintavo
