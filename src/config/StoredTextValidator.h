#pragma once
// Keeps out of an address or tag box what "config.txt" cannot hold: a double quote (the file
// has no escape for it) and characters that Windows-1252 has no byte for.

#include <QValidator>

namespace config {

class StoredTextValidator final : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;

    State validate(QString& input, int& pos) const override;

    static bool storable(const QString& text);
};

} // namespace config
