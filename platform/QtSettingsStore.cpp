#include "QtSettingsStore.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <QVariant>

namespace kelvorin {

namespace {

QString KeyOf(const std::string& section, const std::string& name) {
    return QString::fromStdString(section) + QLatin1Char('/') + QString::fromStdString(name);
}

// Bytes that are UTF-8 text without NUL characters, as text.
std::optional<QString> TextOfBytes(const QByteArray& bytes) {
    if (bytes.contains('\0')) return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) return std::nullopt;
    return text;
}

std::unique_ptr<QSettings> OpenSettings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Morvo"),
                                       QStringLiteral("Zelkat"));
}

}  // namespace

QtSettingsStore::QtSettingsStore() : settings_(OpenSettings()) {}

QtSettingsStore::~QtSettingsStore() { settings_->sync(); }

std::optional<std::string> QtSettingsStore::ReadText(const std::string& section, const std::string& name) const {
    const QVariant value = settings_->value(KeyOf(section, name));
    if (!value.isValid()) return std::nullopt;
    switch (value.typeId()) {
        case QMetaType::QString: return value.toString().toStdString();
        case QMetaType::QByteArray: {
            const std::optional<QString> text = TextOfBytes(value.toByteArray());
            if (!text) return std::nullopt;
            return text->toStdString();
        }
        default: return std::nullopt;
    }
}

void QtSettingsStore::WriteText(const std::string& section, const std::string& name, const std::string& value) {
    settings_->setValue(KeyOf(section, name), QString::fromStdString(value));
}

bool QtSettingsStore::Flush() {
    settings_->sync();
    if (settings_->status() == QSettings::NoError) return true;
    // An error met before (this write's or an earlier one's, or a file that
    // could not be read) would be reported again: a new QSettings takes every
    // value as this one holds them and writes them out.
    std::unique_ptr<QSettings> fresh = OpenSettings();
    for (const QString& key : settings_->allKeys()) fresh->setValue(key, settings_->value(key));
    fresh->sync();
    settings_ = std::move(fresh);
    return settings_->status() == QSettings::NoError;
}

std::string QtSettingsStore::Where() const { return settings_->fileName().toStdString(); }

std::optional<std::string> MemorySettingsStore::ReadText(const std::string& section, const std::string& name) const {
    const auto found = texts_.find(Key(section, name));
    if (found == texts_.end()) return std::nullopt;
    return found->second;
}

void MemorySettingsStore::WriteText(const std::string& section, const std::string& name, const std::string& value) {
    const Key key(section, name);
    nonTexts_.erase(key);
    texts_[key] = value;
    writes_.push_back(Write{section, name, value});
}

void MemorySettingsStore::SetNonText(const std::string& section, const std::string& name) {
    const Key key(section, name);
    texts_.erase(key);
    nonTexts_.insert(key);
}

bool MemorySettingsStore::Contains(const std::string& section, const std::string& name) const {
    const Key key(section, name);
    return texts_.count(key) != 0 || nonTexts_.count(key) != 0;
}

void MemorySettingsStore::Clear() {
    texts_.clear();
    nonTexts_.clear();
    writes_.clear();
}

}  // namespace kelvorin
