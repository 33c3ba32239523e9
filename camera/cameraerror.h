#ifndef CAMERAERROR_H
#define CAMERAERROR_H

#include <QString>

// A camera library status as an operator can read it: the code's name, its
// number and what it means, e.g. "MV_E_RANGE (0x8000000C): the value is
// outside the camera's range". A status no code has keeps its number.
QString cameraErrorText(int status);

#endif // CAMERAERROR_H
