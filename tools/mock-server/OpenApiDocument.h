// The OpenAPI document of the fourteen platform endpoints, written from api/operations.toml into
// OpenApiDocument.gen.cpp and served at GET /openapi.json.
#ifndef CORVANE_MOCK_OPENAPIDOCUMENT_H
#define CORVANE_MOCK_OPENAPIDOCUMENT_H

namespace corvane::mock {

// The document's JSON text; a static string.
const char* OpenApiDocument();

constexpr char kOpenApiPath[] = "/openapi.json";

}  // namespace corvane::mock

#endif  // CORVANE_MOCK_OPENAPIDOCUMENT_H
