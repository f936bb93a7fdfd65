#include "registration/registration.h"

// Entry points filled by the registration work; until then a drop is only released.
wchar_t StatusText[StatusTextCapacity] = L"拖入文件路径:";

void HandleFileDrop(HDROP drop)
{
    DragFinish(drop);
}
