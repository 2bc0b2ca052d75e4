#include "UserInfo.h"

CUserInfo::CUserInfo() : m_addr{} {}

CUserInfo::~CUserInfo() = default;
