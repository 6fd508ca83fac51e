// Turns the facts one network interface reports into an AdapterInfo record.
// Pure, so that the field rules are tested without real interfaces.
#ifndef ARVEX_APP_ADAPTERRECORD_H
#define ARVEX_APP_ADAPTERRECORD_H

#include "adapters.h"

#include <QString>

#include <cstdint>

// `hardwareAddress` is the platform's text ("aa:bb:cc:dd:ee:ff", any case,
// possibly empty or longer); its first six bytes become macText, missing
// ones 00. `description` is cut before its first " - ". An MTU of 0 or less
// becomes 1500. Texts longer than a field are cut, always NUL-terminated.
void fillAdapterInfo(AdapterInfo *out, const QString &name, const QString &description,
                     const QString &hardwareAddress, uint32_t ipv4, uint32_t mask, int mtu);

#endif
