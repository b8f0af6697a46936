#include "vacontrols.h"

void TVaGraphicControl::EndUpdate()
{
    if (FUpdateCount > 0)
        --FUpdateCount;
    if (FUpdateCount == 0)
        Invalidate();
}

void TVaGraphicControl::MouseEnter()
{
    if (FOnMouseEnter)
        FOnMouseEnter(this);
}

void TVaGraphicControl::MouseLeave()
{
    if (FOnMouseLeave)
        FOnMouseLeave(this);
}

void TVaGraphicControl::FontChanged()
{
    if (FOnFontChanged)
        FOnFontChanged(this);
}

void TVaGraphicControl::TextChanged()
{
    if (FOnTextChanged)
        FOnTextChanged(this);
}
