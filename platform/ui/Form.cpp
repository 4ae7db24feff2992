#include "platform/ui/Form.h"

TForm::TForm(TComponent* owner, std::string name) : TControl(owner, std::move(name)) { SetVisible(false); }

void TForm::DoCreate()
{
    if (OnCreate)
        OnCreate(this);
}

bool TForm::CloseQuery()
{
    bool canClose = true;
    if (OnCloseQuery)
        OnCloseQuery(this, canClose);
    return canClose;
}

void TForm::Close()
{
    if (CloseQuery())
        Hide();
}
