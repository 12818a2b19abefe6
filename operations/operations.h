// The eight commands. Each takes upper-cased server names, prints its own
// outcome lines and returns a result code.
#pragma once

int makePrimary(const char* server);
int assignDistributed(const char* primary, const char* distributed);
int removeDistributed(const char* primary, const char* distributed);
int forceRemove(const char* server);
int removePrimary(const char* server);
int listDistributed(const char* server);
int listPrimary(const char* server);
int changeCredentials(const char* server);
