#include "framework/user_security.h"

#include "framework/handle.h"

std::vector<BYTE> ReadTokenUser() {
    HANDLE hToken = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &hToken)) return {};
    const CHandle token(hToken);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return {};
    std::vector<BYTE> user(size, 0);
    if (!::GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) return {};
    return user;
}

SECURITY_ATTRIBUTES* CUserOnlySecurity::Get() {
    if (m_sa.lpSecurityDescriptor == nullptr && !Build()) return nullptr;
    return &m_sa;
}

bool CUserOnlySecurity::Build() {
    m_user = ReadTokenUser();
    if (m_user.empty()) return false;
    const PSID user = reinterpret_cast<TOKEN_USER*>(m_user.data())->User.Sid;
    DWORD systemSize = SECURITY_MAX_SID_SIZE;
    m_system.assign(systemSize, 0);
    if (!::CreateWellKnownSid(WinLocalSystemSid, nullptr, m_system.data(), &systemSize)) return false;
    const DWORD aclSize = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) +
                          ::GetLengthSid(user) + ::GetLengthSid(m_system.data());
    m_acl.assign(aclSize / sizeof(DWORD) + 1, 0);  // DWORD-aligned, as an ACL must be
    auto* acl = reinterpret_cast<ACL*>(m_acl.data());
    if (!::InitializeAcl(acl, aclSize, ACL_REVISION) ||
        !::AddAccessAllowedAce(acl, ACL_REVISION, m_access, user) ||
        !::AddAccessAllowedAce(acl, ACL_REVISION, m_access, m_system.data()) ||
        !::InitializeSecurityDescriptor(&m_sd, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&m_sd, TRUE, acl, FALSE))
        return false;
    m_sa.nLength = sizeof(m_sa);
    m_sa.bInheritHandle = FALSE;
    m_sa.lpSecurityDescriptor = &m_sd;
    return true;
}
