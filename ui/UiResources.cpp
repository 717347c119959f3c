// The skin's images live in the Qt resources linked with this library
// (under :/skin/); nothing else is needed at run time.
#include <QtGlobal>
