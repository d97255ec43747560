# The NuGet package, package/Ovrin70.VERSION.nupkg and its symbols package
# Ovrin70.VERSION.snupkg (target nuget_package), made in the x64 Windows build
# tree from it, the i686 tree (OVRIN_PACKAGE_X86_BUILD) and the Linux tree
# (OVRIN_PACKAGE_LINUX_BUILD), whose stripped libraries (PackagePython.cmake)
# it takes. dotnet pack of bindings/dotnet/Ovrin70.Net.csproj, which holds the
# package's metadata, makes both:
#   Ovrin70.nuspec, README.md                  the manifest; the README with the C# example of README.md
#   lib/netstandard2.0/Ovrin70.Net.dll (+ .xml) the binding, bindings/dotnet/Ovrin70.cs; not Ovrin70.dll,
#                                              which is the native library's name (.pdb: in the .snupkg)
#   runtimes/{win-x64,win-x86}/native/Ovrin70.dll, runtimes/linux-x64/native/libOvrin70.so
# The restore is offline: NETStandard.Library comes from OVRIN_NUGET_FOLDER,
# which scripts/install-deps.sh fills, into a package folder of this tree.
set(OVRIN_PACKAGE_LINUX_BUILD "" CACHE PATH "the Linux build tree whose library goes into the NuGet package")
set(OVRIN_NUGET_FOLDER /opt/nuget/netstandard CACHE PATH
    "the local NuGet folder with NETStandard.Library, which the C# binding restores from (scripts/install-deps.sh)")
if(NOT (CMAKE_SIZEOF_VOID_P EQUAL 8 AND OVRIN_PACKAGE_X86_BUILD AND OVRIN_PACKAGE_LINUX_BUILD))
  return()
endif()
find_program(OVRIN_DOTNET dotnet)
if(NOT OVRIN_DOTNET)
  message(FATAL_ERROR "the NuGet package is made by dotnet pack: the .NET SDK (dotnet) is not on this machine")
endif()

set(stage ${CMAKE_BINARY_DIR}/nuget)
file(READ ${CMAKE_SOURCE_DIR}/README.md readme)
string(REGEX MATCH "```csharp\n[^`]*```" OVRIN_CSHARP_EXAMPLE "${readme}")
if(NOT OVRIN_CSHARP_EXAMPLE)
  message(FATAL_ERROR "README.md has no ```csharp example for the NuGet package's README")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/README.md)
configure_file(${CMAKE_SOURCE_DIR}/bindings/dotnet/README.md.in ${stage}/README.md @ONLY)

set(project ${CMAKE_SOURCE_DIR}/bindings/dotnet/Ovrin70.Net.csproj)
set(binding ${CMAKE_SOURCE_DIR}/bindings/dotnet/Ovrin70.cs)
set(x86_library ${OVRIN_PACKAGE_X86_BUILD}/package/Ovrin70.dll)
set(linux_library ${OVRIN_PACKAGE_LINUX_BUILD}/package/libOvrin70.so)
set(nupkg ${OVRIN_PACKAGE_DIR}/Ovrin70.${PROJECT_VERSION}.nupkg)
set(snupkg ${OVRIN_PACKAGE_DIR}/Ovrin70.${PROJECT_VERSION}.snupkg)
add_custom_command(OUTPUT ${nupkg} ${snupkg}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}/artifacts ${stage}/packages ${nupkg} ${snupkg}
  COMMAND ${CMAKE_COMMAND} -E env DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1
          ${OVRIN_DOTNET} pack ${project} -c Release --nologo -v:minimal --artifacts-path ${stage}/artifacts
          -o ${OVRIN_PACKAGE_DIR} -p:RestoreSources=${OVRIN_NUGET_FOLDER} -p:RestorePackagesPath=${stage}/packages
          -p:OvrinReadme=${stage}/README.md -p:OvrinWinX64=${OVRIN_PACKAGED_LIBRARY} -p:OvrinWinX86=${x86_library}
          -p:OvrinLinuxX64=${linux_library}
  DEPENDS ${project} ${binding} ${OVRIN_PACKAGED_LIBRARY} ${x86_library} ${linux_library} ${stage}/README.md
  VERBATIM)
add_custom_target(nuget_package DEPENDS ${nupkg})
