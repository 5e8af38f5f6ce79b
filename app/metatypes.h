#pragma once

// Registers, under their own names, every type that crosses from the coordinator thread
// to the window through a queued connection.
void registerApplicationMetaTypes();
