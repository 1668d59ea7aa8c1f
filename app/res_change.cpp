#include "app/res_change.h"

namespace vendrake {

namespace {

void SetField(std::uint32_t& fields, std::uint32_t bit, bool on)
{
    fields = on ? (fields | bit) : (fields & ~bit);
}

} // namespace

TResChange::TResChange() : FRequestedMode{}
{
    FRequestedMode.dmSize = sizeof(DEVMODEA);
}

TResChange::~TResChange()
{
    Restore();
}

void TResChange::SetWidth(std::int32_t width)
{
    FRequestedMode.dmPelsWidth = static_cast<std::uint32_t>(width);
    SetField(FRequestedMode.dmFields, DM_PELSWIDTH, width != 0);
}

void TResChange::SetHeight(std::int32_t height)
{
    FRequestedMode.dmPelsHeight = static_cast<std::uint32_t>(height);
    SetField(FRequestedMode.dmFields, DM_PELSHEIGHT, height != 0);
}

void TResChange::Apply()
{
    ApplyMode(FRequestedMode);
}

void TResChange::ApplyMode(const DEVMODEA& mode)
{
    DEVMODEA copy = mode;
    ChangeDisplaySettingsA(&copy, CDS_FULLSCREEN);
}

void TResChange::Restore()
{
    ChangeDisplaySettingsA(nullptr, 0);
}

} // namespace vendrake
