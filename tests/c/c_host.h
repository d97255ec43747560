#ifndef C_HOST_H
#define C_HOST_H

#include <ovrin.h>

/* Takes the next notification into *message; 0 after timeoutMs. */
typedef int (*WaitFunction)(unsigned* message, int timeoutMs);

int RunMeasurement(OvrinWindow window, WaitFunction wait);

#endif
