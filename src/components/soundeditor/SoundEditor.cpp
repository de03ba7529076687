#include "components/soundeditor/SoundEditor.h"

#include "components/errors/modSoundErrDesc.h"

namespace clipwren {

// Placeholder until editing lands: attaching works, every operation refuses to start.
struct SoundEditor::Impl {
    OutputFormatSettings format;
    int32_t lastError = err::Ok;
};

SoundEditor::SoundEditor(QObject* parent) : QObject(parent), impl_(std::make_unique<Impl>()) {}
SoundEditor::~SoundEditor() = default;
int32_t SoundEditor::AttachWindow(QWidget*) { return err::Ok; }
OutputFormatSettings& SoundEditor::OutputFormat() { return impl_->format; }
int32_t SoundEditor::OpenFile(const QString&) { return impl_->lastError = err::Unsupported; }
int32_t SoundEditor::LastErrorCode() const { return impl_->lastError; }
int32_t SoundEditor::CropToRange(int32_t, int32_t) { return impl_->lastError = err::EditorEmpty; }
int32_t SoundEditor::ExportFile(int32_t, int32_t, int32_t, int32_t, int32_t, const QString&) {
    return impl_->lastError = err::EditorEmpty;
}
void SoundEditor::Cancel() {}

}  // namespace clipwren
