#include "rtl/Graphic.h"

#include "rtl/Errors.h"
#include "rtl/Streams.h"

void TGraphic::Changed(TObject* /*sender*/) {
    Modified_ = true;
    if (OnChange)
        OnChange(this);
}

void TGraphic::Progress(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow,
                        const TRect& rect, const std::string& message) {
    if (OnProgress)
        OnProgress(sender, stage, percentDone, redrawNow, rect, message);
}

bool TGraphic::Equals(TGraphic* graphic) {
    if (!graphic)
        return false;
    if (graphic == this)
        return true;
    if (std::string(graphic->ClassName()) != ClassName())
        return false;
    if (Empty() || graphic->Empty())
        return Empty() && graphic->Empty();
    TMemoryStream mine, theirs;
    SaveToStream(mine);
    graphic->SaveToStream(theirs);
    return mine.Bytes() == theirs.Bytes();
}

void TGraphic::ReadData(TStream& stream) {
    LoadFromStream(stream);
}

void TGraphic::WriteData(TStream& stream) {
    SaveToStream(stream);
}

void TGraphic::SetTransparent(bool value) {
    if (value != Transparent_) {
        Transparent_ = value;
        Changed(this);
    }
}

void TGraphic::LoadFromFile(const std::string& path) {
    TMemoryStream file;
    file.LoadFromFile(path);
    LoadFromStream(file);
}

void TGraphic::SaveToFile(const std::string& path) {
    TMemoryStream file;
    SaveToStream(file);
    file.SaveToFile(path);
}

void TSharedImage::Release(TSharedImage* image) {
    if (!image)
        return;
    if (--image->RefCount_ == 0) {
        image->FreeHandle();
        delete image;
    }
}
