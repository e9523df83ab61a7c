// What the Node module reads of the library beyond the public interface:
// forms of stored values that the VMC_ calls only hand out as text or through
// a copy. Not part of the public interface; nothing outside this project's
// own module may rely on it.
#ifndef RIZEZOVA_CLIENT_VMC_INTERNAL_H
#define RIZEZOVA_CLIENT_VMC_INTERNAL_H

#include "client/vmc.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif
