#include "HelpWindowbaseClass.h"

void HelpWindowbaseClass::closeButtonPressed()
{
    setVisible (false);
}
