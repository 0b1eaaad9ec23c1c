// SPDX-License-Identifier: MIT
/* Texts that the Windows resource script and the C++ code share; plain
   preprocessor definitions so that the resource compiler reads them too. */
#ifndef BRIVELTON_RESOURCE_STRINGS_H
#define BRIVELTON_RESOURCE_STRINGS_H

#define BRIVELTON_STRING_ABOUT_MENU "&About Brivelton Utility ..."

#endif
