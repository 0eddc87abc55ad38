#include "app/UPrincipal.h"

#include "app/UpdateCompletion.h"
#include "ui/Application.h"

#include <string>

namespace zal {

namespace {

// The layout, in pixels at the resolution it was made for; ScaleLayout fits it to the screen.
constexpr int LayoutPixelsPerInch = 96;
constexpr int LayoutTextHeight = 13; // "0" in the window font at LayoutPixelsPerInch

// The layout's texts, UTF-8 in this source.
constexpr const char* FormCaption = "Atualização do ZAL";
constexpr const char* LabelCaption =
    "Para concluir a atualização, pressione o botão  \"Concluir Atualização\"";
constexpr const char* ButtonCaption = "Concluir Atualização";

void SetFont(TFont& font, const char* name, int height, TFontStyles style, TColor color, BYTE charset) {
    font.SetName(name);
    font.SetHeight(height);
    font.SetStyle(style);
    font.SetColor(color);
    font.SetCharset(charset);
}

// The layout's texts are stored as UTF-8 and shown in the system's ANSI code page; a character the code page
// lacks becomes the code page's default character.
std::string Utf8ToAnsi(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    int length = static_cast<int>(utf8.size());
    int wideLength = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), wideLength);
    int ansiLength = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(ansiLength), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, ansi.data(), ansiLength, nullptr, nullptr);
    return ansi;
}

} // namespace

TFormPrincipal::TFormPrincipal(TComponent* owner) : TForm(owner) {
    SetName("FormPrincipal");
    SetCaption(Utf8ToAnsi(FormCaption));
    SetBorderStyle(bsToolWindow);
    SetPosition(poScreenCenter);
    SetBounds(270, 248, Width(), Height());
    SetClientSize(487, 90);
    SetColor(clBtnFace);
    SetFont(Font(), "MS Sans Serif", -11, 0, clWindowText, DEFAULT_CHARSET);
    OnClose = [this](TComponent* sender, TCloseAction& action) { FormClose(sender, action); };

    Shader1 = new TShader(this);
    Shader1->SetName("Shader1");
    Shader1->SetParent(this);
    Shader1->SetBounds(0, 0, 487, 90);
    Shader1->SetAlign(alClient);
    Shader1->SetTabOrder(0);
    Shader1->SetCaption("Shader1");
    Shader1->SetFromColor(8421440);
    Shader1->SetDirection(false);

    Label1 = new TLabel(this);
    Label1->SetName("Label1");
    Label1->SetParent(Shader1);
    Label1->SetBounds(19, 9, 448, 16);
    SetFont(Label1->Font(), "Arial", -13, fsBold, clWhite, ANSI_CHARSET);
    Label1->SetParentFont(false);
    Label1->SetTransparent(true);
    Label1->SetCaption(Utf8ToAnsi(LabelCaption));

    BtConcluir = new TButton(this);
    BtConcluir->SetName("BtConcluir");
    BtConcluir->SetParent(Shader1);
    BtConcluir->SetBounds(159, 47, 169, 28);
    BtConcluir->SetCaption(Utf8ToAnsi(ButtonCaption));
    SetFont(BtConcluir->Font(), "MS Sans Serif", -13, fsBold, clWindowText, DEFAULT_CHARSET);
    BtConcluir->SetParentFont(false);
    BtConcluir->SetTabOrder(0);
    BtConcluir->OnClick = [this](TComponent* sender) { BtConcluirClick(sender); };

    ScaleLayout(LayoutPixelsPerInch, LayoutTextHeight);
}

void TFormPrincipal::CreateParams(TCreateParams& params) {
    TForm::CreateParams(params);
    // The panel covers the whole client area, so the window itself needs no background brush.
    params.ClassStyle = CS_DBLCLKS;
    params.Cursor = IDC_ARROW;
    params.Background = nullptr;
}

void TFormPrincipal::BtConcluirClick(TComponent*) {
    SystemUpdateHost host([this] { Close(); });
    CompleteUpdate(host);
}

void TFormPrincipal::FormClose(TComponent*, TCloseAction&) {
    Application->Terminate();
}

} // namespace zal
