// Interfaces that the engine layer names in its signatures but never
// implements on this platform (command lines, value lists, process messages,
// scheme registration, resource bundles, print and DOM access).
#pragma once

#include "cef_base.h"

class CefCommandLine : public virtual CefBaseRefCounted {};
class CefListValue : public virtual CefBaseRefCounted {};
class CefProcessMessage : public virtual CefBaseRefCounted {};
class CefSchemeRegistrar {};
class CefResourceBundleHandler : public virtual CefBaseRefCounted {};
class CefPrintHandler : public virtual CefBaseRefCounted {};
class CefDOMNode : public virtual CefBaseRefCounted {};
class CefRequestContext : public virtual CefBaseRefCounted {};
class CefPopupFeatures {};
