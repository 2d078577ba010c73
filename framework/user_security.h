// Security attributes that let the current user and SYSTEM, and no one
// else, open an object, and the current user's SID they are built from.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The TOKEN_USER of this process; empty when the token cannot be read.
std::vector<BYTE> ReadTokenUser();

class CUserOnlySecurity {
public:
    // access: what the user and SYSTEM are granted (FILE_ALL_ACCESS, MUTEX_ALL_ACCESS).
    explicit CUserOnlySecurity(DWORD access) : m_access(access) {}
    CUserOnlySecurity(const CUserOnlySecurity&) = delete;
    CUserOnlySecurity& operator=(const CUserOnlySecurity&) = delete;

    // Null until the descriptor could be built.
    SECURITY_ATTRIBUTES* Get();

private:
    bool Build();

    const DWORD m_access;
    std::vector<BYTE> m_user;    // TOKEN_USER of this process
    std::vector<BYTE> m_system;  // the SYSTEM account's SID
    std::vector<DWORD> m_acl;
    SECURITY_DESCRIPTOR m_sd = {};
    SECURITY_ATTRIBUTES m_sa = {};
};
