#include "about/C_TextStorage.h"

namespace tintavo {

TTextStorage::TTextStorage(QObject* parent) : QObject(parent) {}

void TTextStorage::Loaded() {
    OriginalItems = Items;
}

QString TTextStorage::Lookup(const QString& key) const {
    QString result = key;
    for (qsizetype i = 0; i < OriginalItems.size(); ++i) {
        if (OriginalItems.at(i).compare(key, Qt::CaseInsensitive) == 0) {
            if (i < Items.size()) {
                result = Items.at(i);
            }
            break;
        }
    }
    if (result == QLatin1String("unused")) {
        result = key;
    }
    return result;
}

} // namespace tintavo

#include "moc_C_TextStorage.cpp"
