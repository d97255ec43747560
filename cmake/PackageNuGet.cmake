# The NuGet package, package/Ovrin70.VERSION.nupkg (target nuget_package),
# made in the x64 Windows build tree from it, the i686 tree
# (OVRIN_PACKAGE_X86_BUILD) and the Linux tree (OVRIN_PACKAGE_LINUX_BUILD),
# whose stripped libraries (PackagePython.cmake) it takes:
#   Ovrin70.nuspec, README.md                  the manifest; the README with the C# example of README.md
#   lib/net461/Ovrin70.Net.dll (+ .xml)         bindings/dotnet/Ovrin70.cs compiled as a library by Mono's
#                                              mcs; not Ovrin70.dll, which is the native library's name
#   runtimes/{win-x64,win-x86}/native/Ovrin70.dll, runtimes/linux-x64/native/libOvrin70.so
#   [Content_Types].xml, _rels/.rels           the zip's parts, by which older NuGet clients find the manifest
# A nupkg is a plain zip: Debian's zip makes it.
set(OVRIN_PACKAGE_LINUX_BUILD "" CACHE PATH "the Linux build tree whose library goes into the NuGet package")
if(NOT (CMAKE_SIZEOF_VOID_P EQUAL 8 AND OVRIN_PACKAGE_X86_BUILD AND OVRIN_PACKAGE_LINUX_BUILD))
  return()
endif()
find_program(OVRIN_MCS mcs REQUIRED)
find_program(OVRIN_ZIP zip REQUIRED)

set(stage ${CMAKE_BINARY_DIR}/nuget)
configure_file(${CMAKE_SOURCE_DIR}/bindings/dotnet/Ovrin70.nuget.xml.in ${stage}/Ovrin70.nuspec @ONLY)
file(READ ${CMAKE_SOURCE_DIR}/README.md readme)
string(REGEX MATCH "```csharp\n[^`]*```" OVRIN_CSHARP_EXAMPLE "${readme}")
if(NOT OVRIN_CSHARP_EXAMPLE)
  message(FATAL_ERROR "README.md has no ```csharp example for the NuGet package's README")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/README.md)
configure_file(${CMAKE_SOURCE_DIR}/bindings/dotnet/README.md.in ${stage}/README.md @ONLY)
file(WRITE "${stage}/[Content_Types].xml" [=[<?xml version="1.0" encoding="utf-8"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
  <Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml" />
  <Default Extension="nuspec" ContentType="application/octet" />
  <Default Extension="md" ContentType="application/octet" />
  <Default Extension="dll" ContentType="application/octet" />
  <Default Extension="xml" ContentType="application/octet" />
  <Default Extension="so" ContentType="application/octet" />
</Types>
]=])
file(WRITE ${stage}/_rels/.rels [=[<?xml version="1.0" encoding="utf-8"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
  <Relationship Type="http://schemas.microsoft.com/packaging/2010/07/manifest" Target="/Ovrin70.nuspec" Id="manifest" />
</Relationships>
]=])
file(WRITE ${stage}/AssemblyInfo.cs "using System.Reflection;
[assembly: AssemblyTitle(\"Ovrin70.Net\")]
[assembly: AssemblyProduct(\"Ovrin70\")]
[assembly: AssemblyDescription(\"The C# binding of Ovrin70's C interface\")]
[assembly: AssemblyVersion(\"${PROJECT_VERSION}.0\")]
[assembly: AssemblyFileVersion(\"${PROJECT_VERSION}.0\")]
[assembly: AssemblyInformationalVersion(\"${PROJECT_VERSION}\")]
")

set(binding ${CMAKE_SOURCE_DIR}/bindings/dotnet/Ovrin70.cs)
set(libraries ${OVRIN_PACKAGED_LIBRARY} ${OVRIN_PACKAGE_X86_BUILD}/package/Ovrin70.dll
              ${OVRIN_PACKAGE_LINUX_BUILD}/package/libOvrin70.so)
set(nupkg ${OVRIN_PACKAGE_DIR}/Ovrin70.${PROJECT_VERSION}.nupkg)
# The XML documentation leaves out what has no comment (CS1591) rather than fail.
add_custom_command(OUTPUT ${nupkg}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}/lib ${stage}/runtimes ${nupkg}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/lib/net461 ${stage}/runtimes/win-x64/native
          ${stage}/runtimes/win-x86/native ${stage}/runtimes/linux-x64/native
  COMMAND ${OVRIN_MCS} -target:library -langversion:7 -optimize+ -warnaserror -nowarn:1591 -nologo
          -out:${stage}/lib/net461/Ovrin70.Net.dll -doc:${stage}/lib/net461/Ovrin70.Net.xml ${binding}
          ${stage}/AssemblyInfo.cs
  COMMAND ${CMAKE_COMMAND} -E copy ${OVRIN_PACKAGED_LIBRARY} ${stage}/runtimes/win-x64/native
  COMMAND ${CMAKE_COMMAND} -E copy ${OVRIN_PACKAGE_X86_BUILD}/package/Ovrin70.dll ${stage}/runtimes/win-x86/native
  COMMAND ${CMAKE_COMMAND} -E copy ${OVRIN_PACKAGE_LINUX_BUILD}/package/libOvrin70.so
          ${stage}/runtimes/linux-x64/native
  COMMAND ${OVRIN_ZIP} -q -X -D -nw -r ${nupkg} [Content_Types].xml _rels Ovrin70.nuspec README.md lib runtimes
  WORKING_DIRECTORY ${stage}
  DEPENDS ${binding} ${libraries} ${stage}/Ovrin70.nuspec ${stage}/README.md VERBATIM)
add_custom_target(nuget_package DEPENDS ${nupkg})
