#pragma once
// FormPrincipal, the tool's only window: a gradient panel filling the client area, the instruction on it,
// and the button whose click completes the update. Built from the layout that the program carries.
#include "controls/Shader.h"
#include "ui/Button.h"
#include "ui/Form.h"
#include "ui/Label.h"

namespace zal {

class TFormPrincipal : public TForm {
public:
    explicit TFormPrincipal(TComponent* owner);

    TShader* Shader1 = nullptr;
    TLabel* Label1 = nullptr;
    TButton* BtConcluir = nullptr;

    // Replaces the installed file named by argument 1 with its staged copy, pauses and closes the window.
    void BtConcluirClick(TComponent* sender);
    // Every way of closing the window ends the application.
    void FormClose(TComponent* sender, TCloseAction& action);

protected:
    const char* WindowClassName() const override { return "TFormPrincipal"; }
    void CreateParams(TCreateParams& params) override;
};

} // namespace zal
