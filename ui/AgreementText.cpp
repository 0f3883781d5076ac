#include "ui/AgreementText.h"

#include <cstring>
#include <iterator>

const char* const kAgreementSections[6] = {
    // 1: title, parties and acceptance; ends a topic (space, empty line).
    "\r\n\r\n"
    "END-USER LICENSE AGREEMENT FOR TORVANE\r\n\r\n"
    "IMPORTANT - READ CAREFULLY: This End-User License Agreement (\"Agreement\") is a legal "
    "agreement between you, either an individual or a single legal entity (\"you\"), and the "
    "publisher of the Torvane Software Suite (\"Licensor\") for the software product that "
    "accompanies this Agreement. The software product includes the Torvane, Pellisar and "
    "Dromlet components, this setup program, the associated media, printed materials and "
    "electronic documentation, any sample files, and any updates or supplements to them that "
    "Licensor may provide to you (together, the \"Software\").\r\n\r\n"
    "By pressing the Accept button, or by installing, copying or otherwise using the Software, "
    "you agree to be bound by the terms of this Agreement. If you do not agree to these terms, "
    "do not install or use the Software: close this setup program now and, where applicable, "
    "return the unused Software with its proof of purchase to the place where you obtained it "
    "for a refund of the amount you paid.\r\n\r\n"
    "The Software is protected by copyright laws and international copyright treaties, as well "
    "as by other intellectual property laws and treaties. The Software is licensed to you, not "
    "sold, and Licensor and its suppliers reserve all rights that this Agreement does not "
    "expressly grant to you. \r\n\r\n",
    // 2: the licence grant; its last paragraph goes on in section 3.
    "LICENSE TERMS\r\n\r\n"
    "Subject to your continued compliance with this Agreement, Licensor grants you a "
    "non-exclusive, non-transferable license to install and use the Software as follows."
    "\r\n\r\n"
    "1. Installation and use. You may install and use one copy of the Software on a single "
    "computer. The primary user of that computer may also install a second copy on one "
    "portable computer for his or her exclusive use, provided that the two copies are not used "
    "at the same time.\r\n\r\n"
    "2. Backup copy. You may make one copy of the Software solely for backup or archival "
    "purposes. The backup copy must carry all copyright and other proprietary notices that "
    "appear on the original, and it may not be installed or used while the original copy is in "
    "use.\r\n\r\n"
    "3. Documentation. You may print or copy the electronic documentation that comes with the "
    "Software for your own internal use in connection with the Software. You may not publish, "
    "resell or distribute the documentation, in whole or in part, to any third party.\r\n\r\n"
    "4. Updates and upgrades. If the Software is labelled as an update or upgrade, you must be "
    "properly licensed to use a product that Licensor has identified as eligible for the "
    "upgrade in order to use the Software. Software labelled as an update or upgrade replaces "
    "or supplements the product that formed the basis of your eligibility, and you may use the "
    "resulting product only in accordance with the terms of this Agreement.\r\n\r\n"
    "5. Storage and network use. You may store a copy of the Software on a storage device, "
    "such as a network server, only to install or run the Software on your other computers "
    "over an internal network. You must acquire a separate license for each computer on which "
    "the Software is installed or run from the storage device, and a license for the Software "
    "may not be shared or used concurrently on different computers. ",
    // 3: end of the grant, then other limitations; its last paragraph goes on in section 4.
    "Licensor may, at its discretion, offer site or volume licenses under separate written "
    "terms; where such terms have been agreed in writing, they prevail over this section."
    "\r\n\r\n"
    "OTHER LIMITATIONS\r\n\r\n"
    "You may not reverse engineer, decompile or disassemble the Software, except and only to "
    "the extent that applicable law expressly permits such activity notwithstanding this "
    "limitation. You may not rent, lease, lend or sublicense the Software, or use it to "
    "provide hosting, time-sharing or service bureau services to third parties. The Software "
    "is licensed as a single product; its component parts may not be separated for use on more "
    "than one computer, and the Torvane, Pellisar and Dromlet components may not be offered or "
    "distributed on their own.\r\n\r\n"
    "You may permanently transfer all of your rights under this Agreement once, provided that "
    "you retain no copies, that you transfer all of the Software (including all component "
    "parts, media, printed materials, any upgrades and this Agreement), and that the recipient "
    "agrees to the terms of this Agreement. If the Software is an upgrade, any transfer must "
    "include all prior versions of the Software. Without prejudice to any other rights, "
    "Licensor may terminate this Agreement if you fail to comply with its terms and "
    "conditions. ",
    // 4: end of the limitations, then the governing law.
    "In such event, you must destroy all copies of the Software and all of its component "
    "parts, and the sections of this Agreement that by their nature survive termination will "
    "remain in force.\r\n\r\n"
    "GOVERNING LAW\r\n\r\n"
    "This Agreement is governed by the laws of the country and state in which Licensor has its "
    "principal place of business, without regard to its conflict of law provisions. The United "
    "Nations Convention on Contracts for the International Sale of Goods does not apply to "
    "this Agreement. If any provision of this Agreement is held by a court of competent "
    "jurisdiction to be invalid or unenforceable, that provision will be enforced to the "
    "maximum extent permissible and the remaining provisions will continue in full force and "
    "effect. Nothing in this Agreement limits any rights that you may have as a consumer under "
    "the mandatory laws of your country of residence.\r\n\r\n"
    "Any dispute arising out of or in connection with this Agreement shall be submitted to the "
    "competent courts at Licensor's principal place of business, unless mandatory law provides "
    "otherwise. A failure or delay by Licensor in exercising any right under this Agreement "
    "does not waive that right.\r\n\r\n",
    // 5: proprietary rights.
    "PROPRIETARY RIGHTS\r\n\r\n"
    "All title, ownership rights and intellectual property rights in and to the Software, "
    "including but not limited to any images, icons, text, sample files and program code "
    "incorporated into the Software, and in and to any copies of the Software, are owned by "
    "Licensor or its suppliers. All title and intellectual property rights in and to the "
    "content that may be accessed through use of the Software are the property of the "
    "respective content owners. This Agreement grants you no rights to use such content and no "
    "rights to the names, logos or trademarks of Licensor, including the names Torvane, "
    "Pellisar and Dromlet. You may not remove, alter or obscure any copyright, trademark or "
    "other proprietary notice on or in the Software.\r\n\r\n"
    "The Software may contain components supplied by third parties under their own license "
    "terms, which are listed in the documentation that accompanies the Software. Your use of "
    "such components is governed by those terms, and this Agreement does not limit any rights "
    "that those terms grant you.\r\n\r\n"
    "You agree to comply with all export and import laws and regulations that apply to the "
    "Software, and not to export or re-export the Software, directly or indirectly, to any "
    "country, person or entity to which such laws prohibit its delivery.\r\n\r\n",
    // 6: disclaimer and limitation of liability; the text ends with its last sentence.
    "DISCLAIMER OF WARRANTY\r\n\r\n"
    "THE SOFTWARE IS PROVIDED \"AS IS\", WITHOUT WARRANTY OF ANY KIND. TO THE MAXIMUM EXTENT "
    "PERMITTED BY APPLICABLE LAW, LICENSOR AND ITS SUPPLIERS DISCLAIM ALL WARRANTIES AND "
    "CONDITIONS, EITHER EXPRESS OR IMPLIED, INCLUDING BUT NOT LIMITED TO IMPLIED WARRANTIES OF "
    "MERCHANTABILITY, FITNESS FOR A PARTICULAR PURPOSE, TITLE AND NON-INFRINGEMENT. LICENSOR "
    "DOES NOT WARRANT THAT THE SOFTWARE WILL MEET YOUR REQUIREMENTS OR THAT ITS OPERATION WILL "
    "BE UNINTERRUPTED OR ERROR-FREE. THE ENTIRE RISK ARISING OUT OF THE USE OR PERFORMANCE OF "
    "THE SOFTWARE REMAINS WITH YOU.\r\n\r\n"
    "TO THE MAXIMUM EXTENT PERMITTED BY APPLICABLE LAW, IN NO EVENT SHALL LICENSOR OR ITS "
    "SUPPLIERS BE LIABLE FOR ANY SPECIAL, INCIDENTAL, INDIRECT OR CONSEQUENTIAL DAMAGES "
    "WHATSOEVER (INCLUDING, WITHOUT LIMITATION, DAMAGES FOR LOSS OF PROFITS, BUSINESS "
    "INTERRUPTION, LOSS OF DATA OR ANY OTHER PECUNIARY LOSS) ARISING OUT OF THE USE OF OR "
    "INABILITY TO USE THE SOFTWARE, EVEN IF LICENSOR HAS BEEN ADVISED OF THE POSSIBILITY OF "
    "SUCH DAMAGES. IN ANY CASE, THE ENTIRE LIABILITY OF LICENSOR UNDER ANY PROVISION OF THIS "
    "AGREEMENT SHALL BE LIMITED TO THE AMOUNT ACTUALLY PAID BY YOU FOR THE SOFTWARE. BECAUSE "
    "SOME JURISDICTIONS DO NOT ALLOW THE EXCLUSION OR LIMITATION OF LIABILITY, THE ABOVE "
    "LIMITATION MAY NOT APPLY TO YOU.\r\n\r\n"
    "This Agreement is the entire agreement between you and Licensor relating to the Software "
    "and supersedes all prior or contemporaneous oral or written communications, proposals and "
    "representations with respect to the Software. Should you have any questions concerning "
    "this Agreement, please contact Licensor through the support address given in the "
    "documentation that accompanies the Software.",
};

std::string AgreementText() {
    std::size_t length = 0;
    for (const char* section : kAgreementSections)
        length += std::strlen(section);
    std::string text;
    text.reserve(length);
    for (const char* section : kAgreementSections)
        text += section;
    return text;
}
