#include "ident/identlog.h"

Q_LOGGING_CATEGORY(lcIdent, "kordo.ident")
