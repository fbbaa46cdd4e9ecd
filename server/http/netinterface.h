#pragma once

#include "identification.h"

#include <QHostAddress>

// What the system says of the interface that carries `address`: its name, mask, MAC address,
// default gateway, and whether the address was leased or chosen link-local. Empty facts when
// no interface carries it.
InterfaceFacts interfaceFacts(const QHostAddress &address);
