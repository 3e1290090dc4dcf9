#include "program/IntegerField.h"

#include <QValidator>

namespace tintavo {

namespace {

// Rewrites the edit's text in place rather than rejecting it, so a paste of "r=12;" still
// brings in "12" and a typed letter simply does not appear.
class IntegerFilter : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& pos) const override {
        const QString kept = IntegerField::Filtered(input);
        if (kept != input) {
            // Characters dropped before the cursor move it back by as many places.
            pos = static_cast<int>(IntegerField::Filtered(input.left(pos)).size());
            input = kept;
        }
        return Acceptable;
    }
};

} // namespace

IntegerField::IntegerField(QWidget* parent) : QLineEdit(parent) {
    setValidator(new IntegerFilter(this));
}

void IntegerField::SetValue(int value) {
    setText(QString::number(value));
}

QString IntegerField::Filtered(const QString& text) {
    QString kept;
    kept.reserve(text.size());
    for (const QChar c : text) {
        const bool digit = c >= u'0' && c <= u'9';
        const bool sign = (c == u'+' || c == u'-') && kept.isEmpty();
        if (digit || sign) {
            kept.append(c);
        }
    }
    return kept;
}

int IntegerField::ValueOf(const QString& text) {
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

} // namespace tintavo
