#pragma once
// A line of text without a window: its parent paints it over its own face. With AutoSize it takes the size
// of its caption as DrawTextA measures it, keeping Left and Top.
#include "ui/Control.h"

#include <string>
#include <string_view>

namespace zal {

class TLabel : public TControl {
public:
    explicit TLabel(TComponent* owner);

    const std::string& Caption() const noexcept { return FCaption; }
    void SetCaption(std::string_view caption);
    // Transparent: nothing is filled behind the text, so the parent's face shows between the letters.
    bool Transparent() const noexcept { return FTransparent; }
    void SetTransparent(bool transparent);
    bool AutoSize() const noexcept { return FAutoSize; }
    void SetAutoSize(bool autoSize);

protected:
    void Paint(TCanvas& canvas) override;
    void FontChanged() override;

private:
    void AdjustBounds();

    std::string FCaption;
    bool FTransparent = false;
    bool FAutoSize = true;
};

} // namespace zal
