#include "modules/Global.h"

namespace Global {
QString gstrMessage;
}
