// Interface ids of MSXML 3.0 that not every SDK's import library carries. Named apart from the
// SDK's own symbols so that the two never meet at link time.
#pragma once

#include <objbase.h>

extern "C" const IID IID_MsxmlHttpRequest; // IXMLHTTPRequest
extern "C" const IID IID_MsxmlDomDocument; // IXMLDOMDocument
extern "C" const IID IID_MsxmlDomElement;  // IXMLDOMElement
