#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

namespace tintavo {

// Maps each built-in text of a dialog to the text to display. The built-in texts are taken
// from Items once the owner has filled them (Loaded); replacing Items afterwards changes what
// is shown, while lookups keep using the built-in texts as keys. An entry whose display text
// is "unused" is retired and gives back its key.
class TTextStorage : public QObject {
    Q_OBJECT
public:
    explicit TTextStorage(QObject* parent = nullptr);

    // The texts to display, in the order of the built-in texts.
    QStringList Items;

    // Takes the current Items as the built-in texts (the keys of Lookup).
    void Loaded();

    // The display text for a built-in text, compared without regard to case; the key itself
    // when it is not a built-in text or its entry is retired.
    QString Lookup(const QString& key) const;

private:
    QStringList OriginalItems;
};

} // namespace tintavo
