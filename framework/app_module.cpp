#include "framework/app_module.h"

CAppModule g_Module;

HRESULT CAppModule::Init(HINSTANCE hInstance) {
    m_hInst = hInstance;
    return S_OK;
}

void CAppModule::Term() { m_pLoop = nullptr; }
