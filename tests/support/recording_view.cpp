// SPDX-License-Identifier: MIT
#include "support/recording_view.h"
