#pragma once

#include <QLineEdit>
#include <QString>

namespace tintavo {

// A one-line edit for a signed whole number. Typing or pasting keeps decimal digits
// anywhere and a "+" or "-" only as the first character; anything else is dropped. There
// is no range limit: the program uses whatever number the text holds.
class IntegerField : public QLineEdit {
    Q_OBJECT
public:
    explicit IntegerField(QWidget* parent = nullptr);

    // The decimal value of the text as a signed 32-bit number; 0 when the text is empty or
    // is not such a number.
    int Value() const { return ValueOf(text()); }
    // Shows the value in decimal.
    void SetValue(int value);

    // The text with every character the field refuses removed.
    static QString Filtered(const QString& text);
    static int ValueOf(const QString& text);
};

} // namespace tintavo
